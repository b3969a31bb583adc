// IsSupported through the export, with pattern lists stored in the registry and the plug-in reloaded,
// and the lead-byte set computed from a locale. The same program runs twice: in the prefix's default
// (western) locale and with LANG=ja_JP.UTF-8, where the ANSI code page is 932; each case says what it
// expects under which.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filter/process_lead_bytes.h"
#include "tests/support/plugin_module.h"
#include "tests/support/settings_key.h"

namespace {

constexpr UINT kShiftJis = 932;

std::string Repeat31Stars() {
  std::string list;
  for (int i = 0; i < 31; ++i) list += "*a";
  return list;
}

bool JapaneseRun() {
  const char* lang = std::getenv("LANG");
  return lang && std::strncmp(lang, "ja_JP", 5) == 0;
}

class IsSupported : public testing::Test {
 protected:
  void SetUp() override {
    test::DeleteSettingsKey();
    plugin_.Reload();
  }
  void TearDown() override { test::DeleteSettingsKey(); }

  // Stores the list, reloads the plug-in so it reads it, and returns the export.
  test::IsSupportedFn WithList(const std::string& list) {
    test::WriteString("ext", list);
    plugin_.Reload();
    return plugin_.Get<test::IsSupportedFn>("IsSupported");
  }

  test::PluginModule plugin_;
};

struct NameCase { const char* name; int western; int japanese; };

void ExpectClaims(test::IsSupportedFn isSupported, const std::vector<NameCase>& cases) {
  const bool cp932 = GetACP() == kShiftJis;
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    EXPECT_EQ(isSupported(c.name, 0x12345678), cp932 ? c.japanese : c.western);
  }
}

TEST(Locale, TheRunHasTheCodePageItWasStartedFor) {
  EXPECT_EQ(GetACP() == kShiftJis, JapaneseRun()) << "GetACP " << GetACP();
}

TEST_F(IsSupported, DefaultListWithoutAStoredValue) {
  ExpectClaims(plugin_.Get<test::IsSupportedFn>("IsSupported"),
               {{"C:\\docs\\page.HTM", 1, 1},
                {"C:\\docs\\index.html", 1, 1},
                {"C:\\docs\\page.htm.bak", 0, 0},
                {"C:\\site.htm\\readme", 0, 0},
                {"C:/web/page.htm", 1, 1},
                {"README", 0, 0},
                {"C:\\dir\\", 0, 0},
                {"", 0, 0},
                {nullptr, 0, 0},
                {"C:\\x\\\x95\x5C.htm", 1, 1},
                {"\\\\server\\share\\Index.Html", 1, 1}});
}

TEST_F(IsSupported, StoredListsTakeEffectAfterReload) {
  struct ListCase { const char* list; std::vector<NameCase> names; };
  const ListCase cases[] = {
      {"*", {{"README", 1, 1}, {"C:\\dir\\", 1, 1}, {nullptr, 0, 0}}},
      {"*.", {{"README", 0, 0}, {"README.", 1, 1}}},
      {";;", {{"C:\\dir\\", 1, 1}, {"page.htm", 0, 0}}},
      {"", {{"page.htm", 0, 0}, {"", 0, 0}}},
      {"*.html;*.htm;*.eml", {{"mail.EML", 1, 1}, {"page.htm", 1, 1}, {"a.txt", 0, 0}}},
      {"[a-c]*.htm", {{"page.htm", 0, 0}, {"bage.htm", 1, 1}, {"Cage.HTM", 1, 1}}},
      {"??.htm", {{"C:\\x\\\x82\xA0.htm", 1, 1}, {"ab.htm", 1, 1}}},
      {"?.htm", {{"C:\\x\\\x82\xA0.htm", 0, 0}}},
      // '表' is 0x95 0x5C: a double-byte character in code page 932, a byte and a '\' otherwise.
      {"\x95\x5C.htm", {{"C:\\x\\\x95\x5C.HTM", 0, 1}}},
      {"page.htm", {{"C:\\dir\\\x95\x5Cpage.htm", 1, 0}}},
      {"*\x95\x5C*", {{"a\x95\x5C" "b.htm", 0, 1}}},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.list);
    ExpectClaims(WithList(c.list), c.names);
  }
}

TEST_F(IsSupported, ABadEntryAnswersZeroSilentlyOnlyForNamesThatReachIt) {
  struct ListCase { const char* list; std::vector<NameCase> names; };
  const std::string tooManyStars = Repeat31Stars();
  const std::string manyAs(40, 'a');
  const ListCase cases[] = {
      {"*.htm;[", {{"x.htm", 1, 1}, {"x.txt", 0, 0}, {"x.htm", 1, 1}, {"x.txt", 0, 0}}},
      {"[a-c*.htm", {{"a.htm", 0, 0}, {"[a-c.htm", 0, 0}, {"", 0, 0}}},
      {"*;[", {{"anything", 1, 1}}},
      {tooManyStars.c_str(), {{"aaaa", 0, 0}, {manyAs.c_str(), 0, 0}}},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.list);
    ExpectClaims(WithList(c.list), c.names);
  }
  // The stored list is left as it was.
  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(test::ReadRaw("ext", &type, &bytes));
  EXPECT_EQ(std::string(bytes.c_str()), Repeat31Stars());
}

TEST(LeadByteSet, FollowsTheLocalesDefaultCodePage) {
  auto expectRanges = [](LCID locale, std::vector<std::pair<int, int>> ranges) {
    SCOPED_TRACE(testing::Message() << std::hex << locale);
    const zelnar::LeadByteSet set = zelnar::ComputeLeadByteSet(locale);
    for (int b = 0; b < 256; ++b) {
      bool inRange = false;
      for (const auto& r : ranges) inRange = inRange || (b >= r.first && b <= r.second);
      EXPECT_EQ(set.Contains(static_cast<unsigned char>(b)), inRange) << "byte " << b;
    }
  };
  expectRanges(0x0411, {{0x81, 0x9F}, {0xE0, 0xFC}});  // Japanese: 932
  expectRanges(0x0804, {{0x81, 0xFE}});                // Chinese (PRC): 936
  expectRanges(0x0412, {{0x81, 0xFE}});                // Korean: 949
  expectRanges(0x0409, {});
  expectRanges(0x0407, {});
  expectRanges(0, {});                                 // no thread locale: as English
  expectRanges(0x0419, {});                            // Russian: 1251 has no lead bytes
}

TEST(LeadByteSet, TheProcessSetComesFromTheLoadingThreadsLocale) {
  const zelnar::LeadByteSet& process = zelnar::ProcessLeadBytes();
  const zelnar::LeadByteSet computed = zelnar::ComputeLeadByteSet(GetThreadLocale());
  EXPECT_EQ(std::memcmp(process.words, computed.words, sizeof process.words), 0);
  EXPECT_EQ(process.Contains(0x95), GetACP() == kShiftJis);
  EXPECT_EQ(process.Contains(0xE0), GetACP() == kShiftJis);
  EXPECT_FALSE(process.Contains(0xA0));
}

}  // namespace
