// The settings dialog: picture size, pattern list and the extractor flags for full pictures and
// previews, filled from the settings record and stored back (record and registry) by OK.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "forms/set_dlg_form.h"
#include "settings/registry_error.h"
#include "settings/settings_record.h"

namespace zelnar {

class TDialogForm final : public TSetDlgForm {
 public:
  // Copies the settings record into the controls. Before the form is shown.
  void FillFromSettings();

  // A check box of each page and the flag bit it stands for; the disabled boxes (gleam, nostamp,
  // noborder) are not among them and never count.
  struct FlagBox {
    const char* picture;
    const char* preview;
    uint32_t bit;
  };

 private:
  friend class TSetDlgForm;  // CreateForHost builds it
  explicit TDialogForm(HWND parent);

  // What OK stores: the fields as checked, the pattern list as read once and compiled once (the
  // compiled form both checks the list and is what the record keeps).
  struct Entered {
    SettingsIntegers integers;
    PreparedPatternList list;
  };
  // The fields, or nothing after the message for the first field that is wrong has been shown.
  std::optional<Entered> CheckedFields();
  uint32_t CheckedFlags(const char* FlagBox::*page);

  void Loaded() override;
  void okButtonClick();
  void cancelButtonClick();
};

// The dialog's words for a registry failure, as its error report shows them.
std::wstring RegistryErrorMessage(const RegistryError& error);

}  // namespace zelnar
