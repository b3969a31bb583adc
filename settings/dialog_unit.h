// The settings dialog: picture size, pattern list and the extractor flags for full pictures and
// previews, filled from the settings record and stored back (record and registry) by OK.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "forms/set_dlg_form.h"
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

  // What OK stores: the fields as checked, the pattern list as read once.
  struct Entered {
    SettingsIntegers integers;
    std::string ext;
  };
  // The fields, or nothing after the message for the first field that is wrong has been shown.
  std::optional<Entered> CheckedFields();
  uint32_t CheckedFlags(const char* FlagBox::*page);

  void Loaded() override;
  void okButtonClick();
  void cancelButtonClick();
};

// ConfigurationDlg: -1 for a function code other than 1; otherwise shows the dialog and returns 0
// when it has ended, or 8 when it could not be created (the error has then been shown). Never raises.
int RunConfigurationDialog(HWND parent, int function) noexcept;

}  // namespace zelnar
