// The base of forms shown from inside a host call: the form belongs to a window of the host (as an
// owned top-level popup, never a child), and RunModal pumps the host thread's messages itself while
// only that owner window is disabled.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "forms/form.h"

namespace zelnar {

inline constexpr int kModalResultCancel = 2;

class TSetDlgForm : public TForm {
 public:
  // Builds a form owned by the host's window. The handle is stored before anything is built, since
  // building creates the form's window. The caller owns (and destroys) the form.
  template <typename Form>
  static std::unique_ptr<Form> CreateForHost(HWND parent) {
    std::unique_ptr<Form> form(new Form(parent));
    form->Build();
    return form;
  }

  // Shows the form and handles messages until it has a modal result; returns that result (2 when
  // the form was closed, hidden or destroyed). Call once, on the thread that created the form.
  int RunModal();

 protected:
  TSetDlgForm(std::string className, HWND parent) : TForm(std::move(className), parent) {}

  void CreateParams(FormCreateParams& params) override;
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  void DoHide() override;
};

// The style change that makes a form with a parent window an owned popup: exactly these two bits go.
constexpr DWORD kChildStyleBits = WS_CHILD | WS_CLIPSIBLINGS;
constexpr DWORD OwnedPopupStyle(DWORD inherited) { return inherited & ~kChildStyleBits; }
static_assert(kChildStyleBits == 0x44000000u && OwnedPopupStyle(0xFFFFFFFFu) == 0xBBFFFFFFu);

}  // namespace zelnar
