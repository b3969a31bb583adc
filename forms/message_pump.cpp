// The loop step used by modal forms in place of an application's own message loop.
#include "forms/message_pump.h"

#include <windows.h>

#include <atomic>

#include "forms/form.h"
#include "forms/message_box.h"

namespace zelnar {
namespace {

std::atomic<bool> terminated{false};

}  // namespace

void HandleMessage() noexcept {
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    WaitMessage();  // no idle work: the forms update nothing in the background
    return;
  }
  if (msg.message == WM_QUIT) {
    // Consumed on purpose, and not posted again: the modal loop ends only through the form's own
    // result. The flag records that the thread was asked to quit; nothing in the loop reads it.
    terminated = true;
    return;
  }
  TForm* form = TForm::FromWindow(msg.hwnd);
  try {
    if (form && form->PreTranslateKey(msg)) return;
  } catch (...) {
    ShowErrorReport(form->HandleIfCreated(), std::current_exception());
    return;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

bool Terminated() noexcept { return terminated; }

}  // namespace zelnar
