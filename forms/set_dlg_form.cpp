// Running a form modally inside a host's thread, and turning every way the form can end into a
// modal result so that the loop always ends.
#include "forms/set_dlg_form.h"

#include "forms/message_pump.h"

namespace zelnar {

void TSetDlgForm::CreateParams(FormCreateParams& params) {
  // Every form starts out with the child style; given the host's window as parent it would become a
  // child inside it. Clearing the bits makes it an owned popup above the host's window instead.
  TForm::CreateParams(params);
  params.style = OwnedPopupStyle(params.style);
}

LRESULT TSetDlgForm::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  // The host destroying its window destroys the owned form with it: that ends the form too.
  if (message == WM_DESTROY && ModalResult() == 0) SetModalResult(kModalResultCancel);
  return TForm::Dispatch(message, wParam, lParam);
}

void TSetDlgForm::DoHide() {
  TForm::DoHide();
  if (ModalResult() == 0) SetModalResult(kModalResultCancel);
}

int TSetDlgForm::RunModal() {
  SetModalResult(0);
  const HWND owner = GetWindow(Handle(), GW_OWNER);
  Show();
  // Without an owner nothing is disabled, and so nothing is enabled afterwards.
  const bool ownerWasDisabled = owner ? EnableWindow(owner, FALSE) != FALSE : true;
  while (ModalResult() == 0) HandleMessage();
  if (!Visible() && owner) SetForegroundWindow(owner);
  // Enabled again before the form is hidden, so that activation returns to the owner.
  if (!ownerWasDisabled) EnableWindow(owner, TRUE);
  Hide();
  if (ModalResult() == 0) SetModalResult(kModalResultCancel);
  return ModalResult();
}

}  // namespace zelnar
