// The settings dialog: picture size, pattern list and the extractor flags for full pictures and
// previews, filled from the settings record and stored back (record and registry) by OK.
#pragma once

#include <windows.h>

#include "forms/set_dlg_form.h"

namespace zelnar {

class TDialogForm final : public TSetDlgForm {
 public:
  // Copies the settings record into the controls. Before the form is shown.
  void FillFromSettings();

 private:
  friend class TSetDlgForm;  // CreateForHost builds it
  explicit TDialogForm(HWND parent);

  void Loaded() override;
  void okButtonClick();
  void cancelButtonClick();
};

// ConfigurationDlg: -1 for a function code other than 1; otherwise shows the dialog and returns 0
// when it has ended, or 8 when it could not be created (the error has then been shown). Never raises.
int RunConfigurationDialog(HWND parent, int function) noexcept;

}  // namespace zelnar
