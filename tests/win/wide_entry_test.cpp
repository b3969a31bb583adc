// The wide entry points as a host calls them: identity strings counted in WCHARs, names and paths that
// the ANSI code page cannot spell, the same answers as the ANSI forms wherever it can, paths that name
// no readable file, and callback data that only fits 64 bits. Runs twice, as is_supported_test does: in
// the prefix's western locale (code page 1252) and with LANG=ja_JP.UTF-8 (code page 932).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/debug_output.h"
#include "tests/support/host_blocks.h"
#include "tests/support/plugin_module.h"
#include "tests/support/process_memory.h"
#include "tests/support/settings_key.h"
#include "tools/standin/standin_control.h"

namespace {

using standin::Mode;

constexpr UINT kShiftJis = 932;
using test::kUntouched;

bool Cp932() { return GetACP() == kShiftJis; }

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], int(wide.size())));
  return wide;
}

// What a host's own ANSI conversion makes of a name: the system default, look-alikes and '?' included.
std::string HostAnsi(const std::wstring& text) {
  std::string narrow(text.size() * 4, '\0');
  narrow.resize(WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), &narrow[0], int(narrow.size()),
                                    nullptr, nullptr));
  return narrow;
}

// The bytes name the same characters after a trip through UTF-16: the ANSI form sees what the W form sees.
bool SpelledExactly(const std::string& name) { return HostAnsi(Widen(name)) == name; }

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return temp;
}

using test::Blocks;

struct Progress {
  std::vector<std::vector<int>> calls;
};

int __stdcall RecordProgress(int done, int total, LONG_PTR data) {
  auto* progress = reinterpret_cast<Progress*>(data);
  progress->calls.push_back({done, total});
  return 0;
}

std::vector<LONG_PTR> seenData;

int __stdcall RecordData(int, int, LONG_PTR data) {
  seenData.push_back(data);
  return 0;
}

class WideEntries : public testing::Test {
 protected:
  void SetUp() override {
    test::DeleteSettingsKey();
    Reload();
    StandinSetMode(Mode::Pattern);
  }
  void TearDown() override {
    test::DeleteSettingsKey();
    StandinSetMode(Mode::Normal);
  }
  void Reload() {
    plugin_.Reload();
    infoW_ = plugin_.Get<test::GetPluginInfoWFn>("GetPluginInfoW");
    isSupported_ = plugin_.Get<test::IsSupportedFn>("IsSupported");
    isSupportedW_ = plugin_.Get<test::IsSupportedWFn>("IsSupportedW");
    picture_ = plugin_.Get<test::GetPictureFn>("GetPicture");
    preview_ = plugin_.Get<test::GetPictureFn>("GetPreview");
    pictureW_ = plugin_.Get<test::GetPictureWFn>("GetPictureW");
    previewW_ = plugin_.Get<test::GetPictureWFn>("GetPreviewW");
  }
  void UseList(const std::string& list) {
    test::WriteString("ext", list);
    Reload();
  }

  test::PluginModule plugin_;
  test::GetPluginInfoWFn infoW_ = nullptr;
  test::IsSupportedFn isSupported_ = nullptr;
  test::IsSupportedWFn isSupportedW_ = nullptr;
  test::GetPictureFn picture_ = nullptr;
  test::GetPictureFn preview_ = nullptr;
  test::GetPictureWFn pictureW_ = nullptr;
  test::GetPictureWFn previewW_ = nullptr;
};

TEST(Locale, TheRunHasTheCodePageItWasStartedFor) {
  const char* lang = std::getenv("LANG");
  EXPECT_EQ(Cp932(), lang && std::strncmp(lang, "ja_JP", 5) == 0) << "GetACP " << GetACP();
}

TEST_F(WideEntries, PluginInfoWReportsTheIdentityStringsInWchars) {
  struct Case { int index; const wchar_t* text; };
  const Case cases[] = {{0, L"00IN"}, {1, L"" ZELNAR_EXPECTED_NAME}, {2, L"*.html;*.htm"}, {3, L"HTML file"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    wchar_t buffer[256];
    EXPECT_EQ(infoW_(c.index, buffer, 256), int(wcslen(c.text)));
    EXPECT_STREQ(buffer, c.text);
  }
}

TEST_F(WideEntries, PluginInfoWNeverWritesPastTheBuffer) {
  struct Case { int index; int length; const wchar_t* text; };
  const Case cases[] = {{1, 5, L"HTML"}, {1, 1, L""}, {0, 4, L"00I"}, {0, 5, L"00IN"}, {0, 6, L"00IN"},
                        {2, 7, L"*.html"}, {2, 12, L"*.html;*.ht"}, {2, 13, L"*.html;*.htm"}, {3, 9, L"HTML fil"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.index << "/" << c.length);
    std::vector<wchar_t> buffer(32, L'#');
    EXPECT_EQ(infoW_(c.index, buffer.data(), c.length), int(wcslen(c.text)));
    EXPECT_STREQ(buffer.data(), c.text);
    for (size_t i = size_t(c.length); i < buffer.size(); ++i) ASSERT_EQ(buffer[i], L'#') << "wrote WCHAR " << i;
  }
  struct Bad { int index; int length; };
  for (const Bad& c : {Bad{4, 256}, Bad{-1, 256}, Bad{INT_MAX, 256}, Bad{0, 0}, Bad{1, -5}}) {
    SCOPED_TRACE(testing::Message() << c.index << "/" << c.length);
    wchar_t buffer[8] = {L'#', L'#'};
    EXPECT_EQ(infoW_(c.index, buffer, c.length), 0);
    EXPECT_EQ(buffer[0], L'#');
  }
  EXPECT_EQ(infoW_(0, nullptr, 256), 0);
}

TEST_F(WideEntries, PluginInfoWWidensTheStoredListFromTheAnsiCodePage) {
  // '表' in code page 932 is 0x95 0x5C; in 1252 the same bytes are a bullet and a backslash.
  const std::string stored = "*.htm;\x95\x5C*.htm;caf\xE9.htm";
  UseList(stored);
  wchar_t buffer[64];
  const int length = infoW_(2, buffer, 64);
  EXPECT_EQ(std::wstring(buffer, length), Widen(stored));
  if (Cp932()) EXPECT_EQ(std::wstring(buffer, 12), L"*.htm;\u8868*.htm");
  else EXPECT_EQ(std::wstring(buffer, 9), L"*.htm;\u2022\\*");
}

// The lists and names of the ANSI form's own cases: wherever the code page spells a name, both agree.
TEST_F(WideEntries, IsSupportedWAgreesWithIsSupportedOnNamesTheCodePageSpells) {
  struct ListCase { const char* list; std::vector<const char*> names; };
  const ListCase cases[] = {
      {nullptr, {"C:\\docs\\page.HTM", "C:\\docs\\index.html", "C:\\docs\\page.htm.bak", "C:\\site.htm\\readme",
                 "C:/web/page.htm", "README", "C:\\dir\\", "", "C:\\x\\\x95\x5C.htm", "\\\\server\\share\\Index.Html"}},
      {"*", {"README", "C:\\dir\\"}},
      {"*.", {"README", "README."}},
      {";;", {"C:\\dir\\", "page.htm"}},
      {"", {"page.htm", ""}},
      {"[a-c]*.htm", {"page.htm", "bage.htm", "Cage.HTM"}},
      {"??.htm", {"C:\\x\\\x82\xA0.htm", "ab.htm"}},
      {"?.htm", {"C:\\x\\\x82\xA0.htm"}},
      {"\x95\x5C.htm", {"C:\\x\\\x95\x5C.HTM"}},
      {"page.htm", {"C:\\dir\\\x95\x5Cpage.htm"}},
      {"*\x95\x5C*", {"a\x95\x5C" "b.htm"}},
      {"*.htm;[", {"x.htm", "x.txt"}},
      {"[a-c*.htm", {"a.htm"}},
      {"caf?.htm;*\xE9*", {"caf\xE9.htm", "\xE9t\xE9.txt", "cafe.htm"}},
  };
  int compared = 0;
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.list ? c.list : "(default)");
    if (c.list) UseList(c.list);
    for (const char* name : c.names) {
      SCOPED_TRACE(name);
      if (!SpelledExactly(name)) continue;  // e.g. a lone lead byte in 932: no UTF-16 form to hand over
      EXPECT_EQ(isSupportedW_(Widen(name).c_str(), 0), isSupported_(name, 0));
      ++compared;
    }
  }
  EXPECT_GT(compared, 30);
  EXPECT_EQ(isSupportedW_(nullptr, 0), 0);
}

TEST_F(WideEntries, IsSupportedWMakesEachCharacterOutsideTheCodePageOneQuestionMark) {
  struct Case { const char* list; const wchar_t* name; int western; int japanese; };
  const Case cases[] = {
      // The default list claims these on any system.
      {nullptr, L"C:\\x\\\u65E5\u672C\u8A9E.html", 1, 1},
      {nullptr, L"C:\\x\\\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.htm", 1, 1},
      {nullptr, L"C:\\x\\\U0001F600.htm", 1, 1},
      // No look-alikes: a full-width dot or letters are not the extension (932 spells them as
      // double-byte characters, 1252 not at all).
      {nullptr, L"C:\\x\\page\uFF0Ehtm", 0, 0},
      {nullptr, L"C:\\x\\page.\uFF48\uFF54\uFF4D", 0, 0},
      {"cafe.htm", L"caf\u00E9.htm", 0, 0},
      {"caf?.htm", L"caf\u00E9.htm", 1, 1},
      // One '?' per character; a surrogate pair is one character, in every code page.
      {"a?.htm", L"a\U0001F600.htm", 1, 1},
      {"a??.htm", L"a\U0001F600.htm", 0, 0},
      {"a?.htm", L"a\xD800.htm", 1, 1},
      // Greek letters and kanji are double-byte characters in 932 and outside 1252; an accented Greek
      // letter (the last one) is outside both: 8 '?' in 1252, 7 double-byte characters and a '?' in 932.
      {"????????.htm", L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.htm", 1, 0},
      {"???????????????.htm", L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.htm", 0, 1},
      {"*\x83\xC8?.htm", L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.htm", 0, 1},
      {"???.html", L"\u65E5\u672C\u8A9E.html", 1, 0},
      {"\x93\xFA*", L"\u65E5\u672C\u8A9E.html", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.list ? c.list : "(default)") << " / " << HostAnsi(c.name));
    if (c.list) UseList(c.list);
    else Reload();
    EXPECT_EQ(isSupportedW_(c.name, 0), Cp932() ? c.japanese : c.western);
    test::DeleteSettingsKey();
  }
}

// Files whose names the code page cannot spell open through the W forms, with the path handed to the
// extractor exactly; the ANSI forms get the host's lossy conversion and, rightly, fail with 8.
TEST_F(WideEntries, FilesNamedOutsideTheCodePageOpenThroughTheWideForms) {
  const std::wstring names[] = {L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.htm", L"\U0001F600 page.htm",
                                L"\u65E5\u672C\u8A9E.html", L"caf\u00E9.htm"};
  for (const std::wstring& name : names) {
    const std::wstring path = TempFolder() + name;
    SCOPED_TRACE(HostAnsi(path));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);

    EXPECT_EQ(isSupportedW_(path.c_str(), 0), 1);
    for (bool preview : {false, true}) {
      StandinSetMode(Mode::Pattern);
      Blocks blocks;
      EXPECT_EQ((preview ? previewW_ : pictureW_)(path.c_str(), 0, 0, &blocks.header, &blocks.bits, nullptr, 0), 0);
      const standin::Record record = [] { standin::Record r; StandinGetRecord(&r); return r; }();
      EXPECT_EQ(std::wstring(record.path), path);
      EXPECT_EQ(record.flags, preview ? 8u : 524u);
      EXPECT_EQ(LocalSize(blocks.bits), 1440000u);
    }

    const std::string ansi = HostAnsi(path);
    Blocks blocks;
    EXPECT_EQ(picture_(ansi.c_str(), 0, 0, &blocks.header, &blocks.bits, nullptr, 0), Widen(ansi) == path ? 0 : 8);
    DeleteFileW(path.c_str());
  }
}

// A path naming no readable file fails before anything is allocated or the extractor is created:
// 8, both variables 0, the callback asked before and after as always.
TEST_F(WideEntries, PathsThatNameNoReadableFileGive8AndNothingElse) {
  const std::wstring temp = TempFolder();
  const std::wstring locked = temp + L"zelnar-locked.htm";
  HANDLE lock = CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const std::wstring paths[] = {
      temp + L"zelnar-no-such-page.htm",
      temp.substr(0, temp.size() - 1),  // the folder itself
      temp,                             // the folder, with its separator
      temp + L"pa?e.htm",               // what a host's conversion made of an unspellable character
      temp + L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC-missing.htm",
      locked,                           // open for writing with no sharing: not readable now
      L"",
  };
  const uint64_t committedBefore = test::CommittedPrivateBytes();
  for (int round = 0; round < 20; ++round) {
    for (const std::wstring& path : paths) {
      SCOPED_TRACE(HostAnsi(path));
      const std::string ansi = HostAnsi(path);
      for (int form = 0; form < 4; ++form) {
        SCOPED_TRACE(form);
        StandinSetMode(Mode::Pattern);
        Progress progress;
        Blocks blocks;
        const LONG_PTR data = reinterpret_cast<LONG_PTR>(&progress);
        int result = -1;
        switch (form) {
          case 0: result = picture_(ansi.c_str(), 0, 0, &blocks.header, &blocks.bits, RecordProgress, data); break;
          case 1: result = preview_(ansi.c_str(), 0, 0, &blocks.header, &blocks.bits, RecordProgress, data); break;
          case 2: result = pictureW_(path.c_str(), 0, 0, &blocks.header, &blocks.bits, RecordProgress, data); break;
          case 3: result = previewW_(path.c_str(), 0, 0, &blocks.header, &blocks.bits, RecordProgress, data); break;
        }
        ASSERT_EQ(result, 8);
        EXPECT_EQ(blocks.header, nullptr);
        EXPECT_EQ(blocks.bits, nullptr);
        EXPECT_EQ(progress.calls, (std::vector<std::vector<int>>{{0, 1}, {1, 1}}));
        standin::Record record;
        StandinGetRecord(&record);
        EXPECT_EQ(record.objectsCreated, 0) << "the extractor was asked";
      }
    }
  }
  EXPECT_LT(int64_t(test::CommittedPrivateBytes()) - int64_t(committedBefore), int64_t(1) << 20);
  CloseHandle(lock);
  DeleteFileW(locked.c_str());
}

// The wide forms name themselves in the one line a debugger sees per failure.
TEST_F(WideEntries, FailuresSayWhichWideFormAndWhy) {
  const std::wstring page = TempFolder() + L"zelnar-trace.htm";
  CloseHandle(CreateFileW(page.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  const test::DebugOutput output;
  test::DebugOutput::Take();
  struct Case { bool preview; std::wstring path; unsigned int kind; const char* line; };
  const Case cases[] = {
      {false, page, 0, nullptr},
      {true, page, 0, nullptr},
      {false, page, 1, "zelnar: GetPictureW: the input is not a file; input kind (0x00000001)"},
      {false, TempFolder() + L"zelnar-no-such-page.htm", 0,
       "zelnar: GetPictureW: the path names no readable file (0x00000002)"},
      {true, TempFolder(), 0, "zelnar: GetPreviewW: the path names no readable file ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line ? c.line : "success");
    Blocks blocks;
    (c.preview ? previewW_ : pictureW_)(c.path.c_str(), 0, c.kind, &blocks.header, &blocks.bits, nullptr, 0);
    const std::vector<std::string> lines = test::DebugOutput::Take();
    if (!c.line) {
      EXPECT_TRUE(lines.empty()) << lines.front();
      continue;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];
  }
  DeleteFileW(page.c_str());
}

TEST_F(WideEntries, InputInMemoryIsRefusedWith2) {
  const wchar_t notAPath[] = {0x4D42, 0x1234};  // no terminator: never read as a string
  Progress progress;
  Blocks blocks;
  EXPECT_EQ(pictureW_(notAPath, 4, 1, &blocks.header, &blocks.bits, RecordProgress,
                      reinterpret_cast<LONG_PTR>(&progress)), 2);
  EXPECT_EQ(previewW_(notAPath, 4, 1, &blocks.header, &blocks.bits, nullptr, 0), 2);
  EXPECT_TRUE(progress.calls.empty());
  EXPECT_EQ(blocks.header, kUntouched);
  EXPECT_EQ(blocks.bits, kUntouched);
}

// The callback's data is pointer-sized: in a 64-bit host it may carry bits above 4 GiB.
TEST_F(WideEntries, CallbackDataReachesTheCallbackUnchanged) {
  const std::wstring path = TempFolder() + L"zelnar-data.htm";
  CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  const std::string ansi = HostAnsi(path);
  const LONG_PTR values[] = {LONG_PTR(0x7FFFFFFF), LONG_PTR(-1), LONG_PTR(uintptr_t(0x89ABCDEF)),
#ifdef _WIN64
                             LONG_PTR(0x123456789ABCDEF0), LONG_PTR(0x100000001), LONG_PTR(uint64_t(1) << 63),
#endif
                             0};
  for (const LONG_PTR data : values) {
    SCOPED_TRACE(testing::Message() << std::hex << data);
    seenData.clear();
    for (int form = 0; form < 2; ++form) {
      Blocks blocks;
      const int result = form ? pictureW_(path.c_str(), 0, 0, &blocks.header, &blocks.bits, RecordData, data)
                              : picture_(ansi.c_str(), 0, 0, &blocks.header, &blocks.bits, RecordData, data);
      EXPECT_EQ(result, 0);
    }
    EXPECT_EQ(seenData, (std::vector<LONG_PTR>{data, data, data, data}));
  }
  DeleteFileW(path.c_str());
}

}  // namespace
