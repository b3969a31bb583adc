// The form's message dispatch: each message it knows, unpacked once, goes to a typed handler.
#include <windows.h>
#include <commctrl.h>

#include "forms/form.h"

namespace zelnar {

LRESULT TForm::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = handle_;  // a destroyed window forgets its handle before the default runs
  switch (message) {
    case WM_COMMAND:
      if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) return 0;
      break;
    case WM_NOTIFY:
      if (lParam && OnNotify(*reinterpret_cast<const NMHDR*>(lParam))) return 0;
      break;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam), HIWORD(wParam) != 0);
      return 0;
    case WM_SETFOCUS:
      OnSetFocus();
      return 0;
    case WM_NCDESTROY:
      OnNcDestroy();
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool TForm::OnCommand(int, int code, HWND control) {
  if (code != BN_CLICKED || !control) return false;
  Clicked(control);
  return true;
}

bool TForm::OnNotify(const NMHDR& header) {
  if (header.code != static_cast<UINT>(TCN_SELCHANGE) || !Find(header.hwndFrom)) return false;
  ShowSelectedPage(header.hwndFrom);
  return true;
}

void TForm::OnClose() { Close(); }

void TForm::OnActivate(int state, bool minimized) {
  if (state == WA_INACTIVE) {
    const HWND focus = GetFocus();
    if (focus && IsChild(handle_, focus)) savedFocus_ = focus;
  } else if (!minimized) {
    FocusFirst();
  }
}

void TForm::OnSetFocus() { FocusFirst(); }

void TForm::OnNcDestroy() noexcept {
  handle_ = nullptr;
  for (ControlWindow& control : controls_) control.window = nullptr;
  tabList_.clear();
  savedFocus_ = nullptr;
}

}  // namespace zelnar
