// ConfigurationDlg as a host calls it: the function codes, the result after every way of ending,
// the pattern list reaching GetPluginInfo and IsSupported at once, and a dialog that cannot be created.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/dialog_driver.h"
#include "tests/support/plugin_module.h"
#include "tests/support/settings_key.h"

namespace {

int windowsCreated = 0;

LRESULT CALLBACK CountCreations(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) ++windowsCreated;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class ConfigurationDlgTest : public testing::Test {
 protected:
  void SetUp() override {
    test::DeleteSettingsKey();
    plugin_.Reload();
    configure_ = plugin_.Get<test::ConfigurationDlgFn>("ConfigurationDlg");
  }
  void TearDown() override { test::DeleteSettingsKey(); }

  test::PluginModule plugin_;
  test::ConfigurationDlgFn configure_ = nullptr;
  test::HostWindow host_;
};

TEST_F(ConfigurationDlgTest, OtherFunctionCodesShowNothing) {
  const HHOOK hook = SetWindowsHookExW(WH_CBT, CountCreations, nullptr, GetCurrentThreadId());
  ASSERT_TRUE(hook);
  for (int code : {0, 2, -1, 3}) {
    SCOPED_TRACE(code);
    windowsCreated = 0;
    EXPECT_EQ(configure_(host_.Get(), code), -1);
    EXPECT_EQ(windowsCreated, 0);
    EXPECT_TRUE(IsWindowEnabled(host_.Get()));
  }
  UnhookWindowsHookEx(hook);
}

TEST_F(ConfigurationDlgTest, ReturnsZeroHoweverTheDialogEnds) {
  struct Case {
    const char* how;
    void (*end)(const test::DialogControls&);
  };
  const Case cases[] = {
      {"OK", [](const test::DialogControls& c) { test::Click(c.ok); }},
      {"Cancel", [](const test::DialogControls& c) { test::Click(c.cancel); }},
      {"close box", [](const test::DialogControls& c) { PostMessageW(c.dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Alt+F4", [](const test::DialogControls& c) { test::PressAltF4(c.dialog); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    const int result = test::RunScripted([&] { return configure_(host_.Get(), 1); },
                                         [&](HWND dialog) {
                                           EXPECT_EQ(GetWindow(dialog, GW_OWNER), host_.Get());
                                           c.end(test::DialogControls(dialog));
                                         });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(IsWindowEnabled(host_.Get()));
  }
}

TEST_F(ConfigurationDlgTest, TheNewPatternListIsReportedAndUsedAtOnce) {
  const auto info = plugin_.Get<test::GetPluginInfoFn>("GetPluginInfo");
  const auto isSupported = plugin_.Get<test::IsSupportedFn>("IsSupported");
  char buffer[256] = {};
  ASSERT_EQ(info(2, buffer, sizeof buffer), 12);
  EXPECT_EQ(isSupported("C:\\mail\\a.eml", 0), 0);
  test::RunScripted([&] { return configure_(host_.Get(), 1); },
                    [&](HWND dialog) {
                      test::DialogControls c(dialog);
                      test::Type(c.extEdit, L"*.html;*.htm;*.eml");
                      test::Click(c.ok);
                    });
  EXPECT_EQ(info(2, buffer, sizeof buffer), 18);
  EXPECT_STREQ(buffer, "*.html;*.htm;*.eml");
  EXPECT_EQ(isSupported("C:\\mail\\a.eml", 0), 1) << "the list was compiled when it was stored";
  EXPECT_EQ(isSupported("C:\\mail\\a.txt", 0), 0);
  plugin_.Reload();
  EXPECT_EQ(plugin_.Get<test::GetPluginInfoFn>("GetPluginInfo")(2, buffer, sizeof buffer), 18)
      << "and it was saved";
}

TEST_F(ConfigurationDlgTest, ADialogThatCannotBeCreatedIsReportedWithResultEight) {
  // Not a window: the form's window cannot be created with it as owner.
  const HWND bogus = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFF0));
  std::wstring text;
  std::thread helper([&] { text = test::DismissMessageBox(); });
  EXPECT_EQ(configure_(bogus, 1), 8);
  helper.join();
  EXPECT_NE(text.find(L"ウィンドウを作成できませんでした"), std::wstring::npos);
}

}  // namespace
