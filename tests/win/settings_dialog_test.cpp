// The settings dialog with real windows: layout and focus at opening, filling from the record, the
// checks of OK with their messages, storing into the record and the registry, keyboard navigation.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "settings/dialog_unit.h"
#include "settings/settings_dialog.h"
#include "forms/form_layout.h"
#include "settings/settings_record.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/settings_key.h"

namespace zelnar {
namespace {

constexpr wchar_t kWidthMessage[] = L"幅の値が不正です。\n1以上の整数を入力してください。";
constexpr wchar_t kHeightMessage[] = L"高さの値が不正です。\n1以上の整数を入力してください。";
constexpr wchar_t kPatternMessage[] = L"拡張子の構文が無効です。";
constexpr wchar_t kRegistryMessage[] = L"レジストリエラー!\n設定を保存できませんでした。";

struct Record {
  int32_t width, height;
  uint32_t flag1, flag2;
  std::string ext;
  bool operator==(const Record& o) const {
    return width == o.width && height == o.height && flag1 == o.flag1 && flag2 == o.flag2 && ext == o.ext;
  }
};

std::ostream& operator<<(std::ostream& out, const Record& r) {
  return out << r.width << "x" << r.height << " " << std::hex << r.flag1 << "/" << r.flag2 << std::dec << " '"
             << r.ext << "'";
}

Record Current() {
  const SettingsIntegers i = ReadSettingsIntegers();
  return {i.width, i.height, i.flag1, i.flag2, ReadPatternList()};
}

void Store(const Record& r) {
  StoreSettingsIntegers({r.width, r.height, r.flag1, r.flag2});
  StorePatternList(PreparePatternList(r.ext));
}

// What the registry holds; width -1 when there is no key.
Record Saved() {
  DWORD type;
  std::string bytes;
  Record r{-1, -1, 0, 0, ""};
  auto dword = [&](const char* name) -> uint32_t {
    return test::ReadRaw(name, &type, &bytes) && bytes.size() == 4 ? *reinterpret_cast<const uint32_t*>(bytes.data())
                                                                    : 0xDEADu;
  };
  if (!test::ReadRaw("width", &type, &bytes)) return r;
  r.width = int32_t(dword("width"));
  r.height = int32_t(dword("height"));
  r.flag1 = dword("flag1");
  r.flag2 = dword("flag2");
  if (test::ReadRaw("ext", &type, &bytes)) r.ext = bytes.substr(0, bytes.find('\0'));
  return r;
}

const Record kDefaults{800, 600, 524, 8, "*.html;*.htm"};

// Text height of the dialog's font on this screen, which decides how the dialog is scaled.
int DialogTextHeight() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  const HFONT font = CreateFontW(ScaleLength(-16, dpi, 96), 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0,
                                 0, L"ＭＳ Ｐゴシック");
  const HGDIOBJ old = SelectObject(screen, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(screen, &metrics);
  SelectObject(screen, old);
  DeleteObject(font);
  ReleaseDC(nullptr, screen);
  return metrics.tmHeight;
}

class SettingsDialog : public testing::Test {
 protected:
  void SetUp() override {
    test::DeleteSettingsKey();
    Store(kDefaults);
  }
  void TearDown() override {
    test::DeleteSettingsKey();
    Store(kDefaults);
  }

  int Open(const std::function<void(test::DialogControls&)>& script) {
    return test::RunScripted([&] { return RunSettingsDialog(host_.Get()) == DialogOutcome::Ended ? 0 : -1; },
                             [&](HWND dialog) {
                               test::DialogControls controls(dialog);
                               script(controls);
                             });
  }

  test::HostWindow host_;
};

RECT RectIn(HWND control, HWND parent) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

TEST_F(SettingsDialog, OpensCentredOnTheFirstPageWithTheFocusOnOk) {
  const int textHeight = DialogTextHeight();
  auto scaled = [&](int v) { return ScaleLength(v, textHeight, 16); };
  const int result = Open([&](test::DialogControls& c) {
    wchar_t caption[64] = {};
    GetWindowTextW(c.dialog, caption, 64);
    EXPECT_STREQ(caption, L"zelnarオプション");
    EXPECT_FALSE(IsWindowEnabled(host_.Get()));

    RECT window, client;
    GetWindowRect(c.dialog, &window);
    GetClientRect(c.dialog, &client);
    EXPECT_EQ(client.right, scaled(306));
    EXPECT_EQ(client.bottom, scaled(331));
    EXPECT_EQ(window.left, (GetSystemMetrics(SM_CXSCREEN) - (window.right - window.left)) / 2);
    EXPECT_EQ(window.top, (GetSystemMetrics(SM_CYSCREEN) - (window.bottom - window.top)) / 2);

    const RECT ok = RectIn(c.ok, c.dialog);
    EXPECT_EQ(ok.left, scaled(48));
    EXPECT_EQ(ok.top, scaled(296));
    EXPECT_EQ(ok.right - ok.left, scaled(81));
    const RECT quality = RectIn(c.Box(L"IEIFLAG_QUALITY"), c.picturePage);
    EXPECT_EQ(quality.top, scaled(208));
    EXPECT_EQ(quality.right - quality.left, scaled(161));
    const RECT widthUD = RectIn(c.widthUD, c.optionPage);
    const RECT widthEdit = RectIn(c.widthEdit, c.optionPage);
    EXPECT_EQ(widthEdit.right - widthEdit.left, scaled(57)) << "the up-down does not shrink its buddy";
    EXPECT_EQ(widthUD.left, scaled(113));

    EXPECT_EQ(SendMessageW(c.tabs, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(IsWindowVisible(c.optionPage));
    EXPECT_FALSE(IsWindowVisible(c.picturePage));
    EXPECT_FALSE(IsWindowVisible(c.previewPage));
    EXPECT_TRUE(test::WaitFor([&] { return test::FocusOf(c.dialog) == c.ok; }, 1000));

    DWORD low = 0, high = 0;
    SendMessageW(c.widthUD, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 1u);
    EXPECT_EQ(high, 4096u);
    EXPECT_EQ(HWND(SendMessageW(c.heightUD, UDM_GETBUDDY, 0, 0)), c.heightEdit);
    EXPECT_TRUE(GetWindowLongW(c.widthUD, GWL_STYLE) & UDS_NOTHOUSANDS);
    test::Click(c.cancel);
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(IsWindowEnabled(host_.Get()));
  EXPECT_EQ(Current(), kDefaults) << "cancel stores nothing";
  EXPECT_EQ(Saved().width, -1) << "cancel writes nothing";
}

TEST_F(SettingsDialog, ShowsTheRecordAndOkStoresWhatItShows) {
  Store({70000, 1024, 0x20C | 0x1000, 0xFFFFFFFF, "*.a;*.b"});
  Open([&](test::DialogControls& c) {
    EXPECT_EQ(test::TextOf(c.widthEdit), L"70000");
    EXPECT_EQ(test::TextOf(c.heightEdit), L"1024");
    EXPECT_EQ(SendMessageW(c.widthUD, UDM_GETPOS32, 0, 0), 4096) << "the up-down stops at its range";
    EXPECT_EQ(SendMessageW(c.heightUD, UDM_GETPOS32, 0, 0), 1024);
    EXPECT_EQ(test::TextOf(c.extEdit), L"*.a;*.b");

    struct Box { const wchar_t* caption; bool enabled; bool picture; };
    const Box boxes[] = {
        {L"IEIFLAG_CACHE", true, false},    {L"IEIFLAG_ASPECT", true, true},    {L"IEIFLAG_OFFLINE", true, true},
        {L"IEIFLAG_GLEAM", false, false},   {L"IEIFLAG_SCREEN", true, false},   {L"IEIFLAG_ORIGSIZE", true, false},
        {L"IEIFLAG_NOSTAMP", false, false}, {L"IEIFLAG_NOBORDER", false, false}, {L"IEIFLAG_QUALITY", true, true},
    };
    for (const Box& b : boxes) {
      SCOPED_TRACE(testing::Message() << b.caption);
      for (bool preview : {false, true}) {
        const HWND box = c.Box(b.caption, preview);
        ASSERT_TRUE(box);
        EXPECT_EQ(IsWindowEnabled(box) != FALSE, b.enabled);
        const bool expected = preview ? b.enabled : b.picture;  // preview flags are all ones
        EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED, expected);
      }
    }
    test::Click(c.ok);
  });
  const Record expected{70000, 1024, 0x20C, 0x26E, "*.a;*.b"};
  EXPECT_EQ(Current(), expected) << "unshown bits are dropped, the whole width is kept";
  EXPECT_EQ(Saved(), expected);
}

TEST_F(SettingsDialog, RefusesBadFieldsWithTheirMessageAndStoresNothing) {
  struct Case {
    const wchar_t* width;
    const wchar_t* height;
    const wchar_t* ext;
    const wchar_t* message;
  };
  const Case cases[] = {
      {L"800 ", L"600", L"*.htm", kWidthMessage},     {L"8.0", L"600", L"*.htm", kWidthMessage},
      {L"-", L"600", L"*.htm", kWidthMessage},        {L"", L"600", L"*.htm", kWidthMessage},
      {L"0", L"600", L"*.htm", kWidthMessage},        {L"-5", L"600", L"*.htm", kWidthMessage},
      {L"$FFFFFFFF", L"600", L"*.htm", kWidthMessage}, {L"1,024", L"600", L"*.htm", kWidthMessage},
      {L"2147483648", L"600", L"*.htm", kWidthMessage}, {L"８００", L"600", L"*.htm", kWidthMessage},
      {L"800", L"x", L"*.htm", kHeightMessage},       {L"800", L"0", L"*.htm", kHeightMessage},
      {L"0", L"0", L"[", kWidthMessage},                // the width is checked first
      {L"800", L"600", L"*.html;[htm", kPatternMessage}, {L"800", L"600", L"☺.htm", kPatternMessage},
  };
  Open([&](test::DialogControls& c) {
    for (const Case& k : cases) {
      SCOPED_TRACE(testing::Message() << "case " << (&k - cases));
      test::Type(c.widthEdit, k.width);
      test::Type(c.heightEdit, k.height);
      test::Type(c.extEdit, k.ext);
      test::Click(c.ok);
      EXPECT_EQ(test::DismissMessageBox(), k.message);
      Sleep(30);
      EXPECT_TRUE(IsWindowVisible(c.dialog));
      EXPECT_EQ(test::TextOf(c.widthEdit), k.width) << "fields stay as typed";
    }
    test::Click(c.cancel);
  });
  EXPECT_EQ(Current(), kDefaults);
  EXPECT_EQ(Saved().width, -1);
}

TEST_F(SettingsDialog, AcceptsEveryIntegerFormAndStoresRecordAndRegistry) {
  struct Case {
    const wchar_t* width;
    const wchar_t* ext;
    int32_t stored;
    const char* storedExt;
  };
  const Case cases[] = {
      {L"   800", L"*.htm", 800, "*.htm"}, {L"+800", L"*.htm", 800, "*.htm"},  {L"$320", L"*.htm", 800, "*.htm"},
      {L"0x320", L"*.htm", 800, "*.htm"}, {L"5000", L"*;[htm", 5000, "*;[htm"}, {L"012", L"", 12, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.stored << " '" << k.storedExt << "'");
    test::DeleteSettingsKey();
    Store(kDefaults);
    const int result = Open([&](test::DialogControls& c) {
      test::Type(c.widthEdit, k.width);
      test::Type(c.extEdit, k.ext);
      test::Click(c.ok);
    });
    EXPECT_EQ(result, 0);
    const Record expected{k.stored, 600, 524, 8, k.storedExt};
    EXPECT_EQ(Current(), expected);
    EXPECT_EQ(Saved(), expected);
  }
}

// A volatile parent key: the settings key can neither be opened (it is missing) nor created below it.
class VolatileParent {
 public:
  VolatileParent() {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\tamberlo");
    HKEY key;
    made_ = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\tamberlo", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) == ERROR_SUCCESS;
    if (made_) RegCloseKey(key);
  }
  ~VolatileParent() { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\tamberlo"); }
  bool Made() const { return made_; }

 private:
  bool made_ = false;
};

TEST_F(SettingsDialog, ARegistryFailureIsReportedAfterTheRecordWasStored) {
  VolatileParent parent;
  ASSERT_TRUE(parent.Made());
  HWND dialog = nullptr;
  const int result = Open([&](test::DialogControls& c) {
    dialog = c.dialog;
    test::Type(c.widthEdit, L"1024");
    test::Click(c.ok);
    HWND box = nullptr;
    ASSERT_TRUE(test::WaitFor([&] { return (box = test::FindMessageBox()) != nullptr && IsWindowVisible(box); }));
    EXPECT_EQ(test::VisibleButtons(box), 1);
    EXPECT_EQ(test::DismissMessageBox(), kRegistryMessage);
  });
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(IsWindow(dialog)) << "the dialog closes after the message";
  EXPECT_EQ(Current(), (Record{1024, 600, 524, 8, "*.html;*.htm"}));
  HKEY key;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, test::kKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
}

void Press(WORD key, bool shift = false) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(in);
  };
  if (shift) add(VK_SHIFT, false);
  add(key, false);
  add(key, true);
  if (shift) add(VK_SHIFT, true);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

TEST_F(SettingsDialog, TabAndArrowsMoveThroughTheControlsInOrder) {
  Open([&](test::DialogControls& c) {
    ASSERT_TRUE(test::WaitFor([&] { return test::FocusOf(c.dialog) == c.ok; }, 1000));
    const HWND forward[] = {c.cancel, c.tabs, c.widthEdit, c.heightEdit, c.extEdit, c.ok};
    for (HWND expected : forward) {
      Press(VK_TAB);
      EXPECT_TRUE(test::WaitFor([&] { return test::FocusOf(c.dialog) == expected; }, 1000));
    }
    Press(VK_TAB, true);
    EXPECT_TRUE(test::WaitFor([&] { return test::FocusOf(c.dialog) == c.extEdit; }, 1000));
    Press(VK_TAB, true);
    EXPECT_TRUE(test::WaitFor([&] { return test::FocusOf(c.dialog) == c.heightEdit; }, 1000));

    // The tab control takes the arrows itself: Right selects the next page and shows it.
    Press(VK_TAB, true);
    Press(VK_TAB, true);
    ASSERT_TRUE(test::WaitFor([&] { return test::FocusOf(c.dialog) == c.tabs; }, 1000));
    Press(VK_RIGHT);
    EXPECT_TRUE(test::WaitFor([&] { return IsWindowVisible(c.picturePage) && !IsWindowVisible(c.optionPage); }, 1000));

    // On the page, the arrows step over the disabled box.
    Press(VK_TAB);
    EXPECT_TRUE(test::WaitFor([&] { return test::FocusOf(c.dialog) == c.Box(L"IEIFLAG_CACHE"); }, 1000));
    const wchar_t* const down[] = {L"IEIFLAG_ASPECT", L"IEIFLAG_OFFLINE", L"IEIFLAG_SCREEN"};
    for (const wchar_t* caption : down) {
      Press(VK_DOWN);
      EXPECT_TRUE(test::WaitFor([&] { return test::FocusOf(c.dialog) == c.Box(caption); }, 1000));
    }
    // Enter presses the focused button only.
    Press(VK_RETURN);
    Sleep(100);
    EXPECT_TRUE(IsWindowVisible(c.dialog));
    for (int i = 0; i < 4; ++i) Press(VK_TAB);  // origsize, quality, then round to ok and cancel
    EXPECT_TRUE(test::WaitFor([&] { return test::FocusOf(c.dialog) == c.cancel; }, 1000));
    Press(VK_RETURN);
  });
  EXPECT_EQ(Current(), kDefaults);
}

}  // namespace
}  // namespace zelnar
