// The host-parented modal form with real windows: ownership, the owner's enabled state, every way
// the form ends, WM_QUIT, and the error report of a failing handler.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "forms/message_pump.h"
#include "forms/set_dlg_form.h"
#include "tests/support/dialog_driver.h"
#include "win/error.h"

namespace zelnar {

class TProbeForm final : public TSetDlgForm {
 private:
  friend class TSetDlgForm;
  explicit TProbeForm(HWND parent) : TSetDlgForm("TProbeForm", parent) {
    BindClick("failButtonClick", [] { throw Error(L"ハンドラが失敗しました"); });
    BindClick("closeButtonClick", [this] { Close(); });
  }
};

namespace {

HWND FindProbe() { return FindWindowW(L"TProbeForm", L"probe"); }


// Creates the probe form for `owner`, runs it while `script` drives it, and returns RunModal's result.
int RunProbe(HWND owner, const std::function<void(HWND)>& script) {
  return test::RunScripted(
      [&] {
        auto form = TSetDlgForm::CreateForHost<TProbeForm>(owner);
        return form->RunModal();
      },
      script, FindProbe);
}

TEST(ModalForm, IsAnOwnedPopupNeverAChild) {
  test::HostWindow host;
  RunProbe(host.Get(), [&](HWND form) {
    const DWORD style = GetWindowLongW(form, GWL_STYLE);
    const DWORD exStyle = GetWindowLongW(form, GWL_EXSTYLE);
    // The system gives every top-level window WS_CLIPSIBLINGS itself.
    EXPECT_EQ(style & ~(WS_VISIBLE | WS_DISABLED | WS_CLIPSIBLINGS),
              DWORD(WS_POPUP | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU));
    EXPECT_FALSE(style & WS_CHILD);
    EXPECT_EQ(exStyle & (WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE), DWORD(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE));
    EXPECT_EQ(GetWindow(form, GW_OWNER), host.Get());
    EXPECT_EQ(GetAncestor(form, GA_PARENT), GetDesktopWindow());
    test::Click(FindWindowExW(form, nullptr, L"Button", L"close"));
  });
}

TEST(ModalForm, EveryEndGivesTheCancelResult) {
  struct Case {
    const char* how;
    void (*end)(HWND form);
  };
  const Case cases[] = {
      {"close button handler", [](HWND f) { test::Click(FindWindowExW(f, nullptr, L"Button", L"close")); }},
      {"close box", [](HWND f) { PostMessageW(f, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Alt+F4 on the focused control", [](HWND f) { test::PressAltF4(f); }},
      {"WM_CLOSE", [](HWND f) { PostMessageW(f, WM_CLOSE, 0, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    test::HostWindow host;
    EXPECT_EQ(RunProbe(host.Get(), c.end), kModalResultCancel);
    EXPECT_TRUE(IsWindowEnabled(host.Get()));
  }
}

TEST(ModalForm, DisablesOnlyTheOwnerAndRestoresItsState) {
  for (bool disabledBefore : {false, true}) {
    SCOPED_TRACE(disabledBefore ? "owner disabled before" : "owner enabled before");
    test::HostWindow host;
    test::HostWindow other;  // another window of the host's thread
    EnableWindow(host.Get(), !disabledBefore);
    RunProbe(host.Get(), [&](HWND form) {
      EXPECT_FALSE(IsWindowEnabled(host.Get()));
      EXPECT_TRUE(IsWindowEnabled(other.Get()));
      EXPECT_TRUE(IsWindowEnabled(form));
      test::Click(FindWindowExW(form, nullptr, L"Button", L"close"));
    });
    EXPECT_EQ(IsWindowEnabled(host.Get()) != FALSE, !disabledBefore);
    EXPECT_TRUE(IsWindowEnabled(other.Get()));
  }
}

TEST(ModalForm, WithoutOwnerNothingIsDisabled) {
  test::HostWindow bystander;
  const int result = RunProbe(nullptr, [&](HWND form) {
    EXPECT_EQ(GetWindow(form, GW_OWNER), nullptr);
    EXPECT_TRUE(IsWindowEnabled(bystander.Get()));
    test::Click(FindWindowExW(form, nullptr, L"Button", L"close"));
  });
  EXPECT_EQ(result, kModalResultCancel);
  EXPECT_TRUE(IsWindowEnabled(bystander.Get()));
}

TEST(ModalForm, QuitMessageIsConsumedAndDoesNotEndTheForm) {
  test::HostWindow host;
  const DWORD thread = GetCurrentThreadId();
  RunProbe(host.Get(), [&](HWND form) {
    PostThreadMessageW(thread, WM_QUIT, 0, 0);
    EXPECT_TRUE(test::WaitFor([] { return Terminated(); }));
    Sleep(100);
    EXPECT_TRUE(IsWindowVisible(form));
    test::Click(FindWindowExW(form, nullptr, L"Button", L"close"));
  });
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "WM_QUIT was dropped";
}

TEST(ModalForm, DestroyingTheOwnerEndsTheForm) {
  test::HostWindow host;
  HWND formWindow = nullptr;
  const int result = RunProbe(host.Get(), [&](HWND form) {
    formWindow = form;
    PostMessageW(host.Get(), test::kDestroyYourself, 0, 0);
  });
  EXPECT_EQ(result, kModalResultCancel);
  EXPECT_FALSE(IsWindow(host.Get()));
  EXPECT_FALSE(IsWindow(formWindow));
}

TEST(ModalForm, AFailingHandlerIsReportedAndTheFormStaysOpen) {
  test::HostWindow host;
  RunProbe(host.Get(), [&](HWND form) {
    test::Click(FindWindowExW(form, nullptr, L"Button", L"fail"));
    HWND box = nullptr;
    ASSERT_TRUE(test::WaitFor([&] { return (box = test::FindMessageBox()) != nullptr; }));
    EXPECT_TRUE(test::WaitFor([&] { return IsWindowVisible(box) && test::VisibleButtons(box) == 1; }))
        << "one OK button";
    EXPECT_FALSE(IsWindowEnabled(form)) << "the box is modal to the form";
    EXPECT_EQ(test::DismissMessageBox(), L"ハンドラが失敗しました");
    EXPECT_TRUE(test::WaitFor([&] { return IsWindowEnabled(form) != FALSE; }));
    Sleep(50);
    EXPECT_TRUE(IsWindowVisible(form));
    test::Click(FindWindowExW(form, nullptr, L"Button", L"close"));
  });
}

TEST(ModalForm, StyleChangeClearsExactlyTheChildBits) {
  EXPECT_EQ(OwnedPopupStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_POPUP | WS_CAPTION),
            DWORD(WS_CLIPCHILDREN | WS_POPUP | WS_CAPTION));
}

}  // namespace
}  // namespace zelnar
