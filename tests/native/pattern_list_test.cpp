// The list scan and the file-name part: separators, empty entries, first match wins, bad entries, and
// the second-byte rule with code page 932's lead bytes. Every list is also compiled once, and the
// compiled list must give the scan's answer.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "filter/compiled_pattern_list.h"
#include "filter/file_name_part.h"
#include "filter/pattern_list.h"
#include "tests/support/lead_bytes_932.h"

namespace {

using zelnar::CompiledPatternList;
using zelnar::LeadByteSet;

const LeadByteSet kNoLeadBytes{};
const LeadByteSet kCp932 = test::LeadBytes932();

// Whether the plug-in would claim `path`: file-name part, then the list scan on a private copy. The
// list compiled once must say the same.
bool Claims(const char* list, const char* path, const LeadByteSet& leadBytes = kNoLeadBytes) {
  std::string copy = list;
  const char* part = zelnar::FindFileNamePart(path, leadBytes);
  const bool claimed = zelnar::MatchesPatternList(part, copy.data(), leadBytes);
  EXPECT_EQ(CompiledPatternList(list, leadBytes).Claims(part), claimed) << "compiled once";
  return claimed;
}

TEST(PatternList, ClaimsByFileNamePart) {
  struct Case { const char* list; const char* path; bool claimed; };
  const Case cases[] = {
      {"*.html;*.htm", "C:\\docs\\page.HTM", true},
      {"*.html;*.htm", "C:\\docs\\index.html", true},
      {"*.html;*.htm", "C:\\docs\\page.htm.bak", false},
      {"*.html;*.htm", "C:\\site.htm\\readme", false},
      {"*.html;*.htm", "C:/web/page.htm", true},  // ':' separates, '/' does not
      {"/web/*", "C:/web/page.htm", true},
      {"*.html;*.htm", "README", false},
      {"*", "README", true},
      {"*.", "README", false},
      {"*.", "README.", true},
      {"*.html;*.htm", "C:\\dir\\", false},
      {"*", "C:\\dir\\", true},
      {";;", "C:\\dir\\", true},   // an empty entry matches the empty part
      {";;", "page.htm", false},
      {"", "page.htm", false},
      {"", "", false},              // an empty list holds no pattern, not an empty one
      {";", "", true},
      {"*.htm;", "x.htm", true},
      {"*.htm;", "", false},        // a final ';' adds no entry
      {" *.htm", "page.htm", false},
      {"*.htm ", "page.htm", false},
      {"*.htm ", "page.htm ", true},
      {"[a-c]*.htm", "page.htm", false},
      {"[a-c]*.htm", "bage.htm", true},
      {"[a-c]*.htm", "Cage.HTM", true},
      {"[!p]*.htm", "page.htm", false},
      {"[!p]*.htm", "index.htm", true},
      {"*.txt;*.htm;*.html", "a.html", true},
      {"a:b", "a:b", false},        // the part behind ':' is "b"
      {"b", "a:b", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.list << "\" / \"" << c.path << '"');
    EXPECT_EQ(Claims(c.list, c.path), c.claimed);
  }
}

TEST(PatternList, StopsAtTheFirstMatchAndRaisesForABadEntryItReaches) {
  struct Case { const char* list; const char* name; bool raises; bool matches; };
  const Case cases[] = {
      {"*.htm;[", "x.htm", false, true},
      {"*.htm;[", "x.txt", true, false},
      {"*.htm;[", "zelnar.spi", true, false},
      {"*;[", "zelnar.spi", false, true},
      {"[a-c*.htm", "b.htm", true, false},
      {"[;*", "x", true, false},     // the ';' splits the list before the set is read
      {"[a-;]", "x", true, false},
      {"a[!;b];*", "x", true, false},
      {"[]];*", "x", true, false},
      {";[", "", false, true},
      {"*.htm;;[!]", "", false, true},
      {"*.htm;;[!]", "x", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.list << "\" / \"" << c.name << '"');
    std::string copy = c.list;
    const CompiledPatternList::Answer answer = CompiledPatternList(c.list, kNoLeadBytes).Match(c.name);
    if (c.raises) {
      EXPECT_THROW(zelnar::MatchesPatternList(c.name, copy.data(), kNoLeadBytes), zelnar::InvalidPatternError);
      EXPECT_EQ(answer, CompiledPatternList::Answer::InvalidEntryReached);
    } else {
      EXPECT_EQ(zelnar::MatchesPatternList(c.name, copy.data(), kNoLeadBytes), c.matches);
      EXPECT_EQ(answer, c.matches ? CompiledPatternList::Answer::Matched : CompiledPatternList::Answer::NotMatched);
    }
  }
}

TEST(PatternList, WritesZerosOverTheSeparatorsItReaches) {
  std::string list = "*.a;*.b;*.c";
  EXPECT_TRUE(zelnar::MatchesPatternList("x.b", list.data(), kNoLeadBytes));
  EXPECT_EQ(list, std::string("*.a\0*.b\0*.c", 11));
}

TEST(PatternList, TakesNoSeparatorFromASecondByte) {
  // 0x81 0x3B is one character in code page 932, so the list below holds a single pattern.
  struct Case { const char* list; const char* name; const LeadByteSet* leadBytes; bool matches; };
  const Case cases[] = {
      {"\x81;x", "\x81;x", &kCp932, true},
      {"\x81;x", "x", &kCp932, false},
      {"\x81;x", "x", &kNoLeadBytes, true},
      {"\x81\x81;x", "x", &kCp932, true},  // a run of two lead bytes: the ';' stands alone
      {"\x81\x81\x81;x", "x", &kCp932, false},
      {"[\x81;a]", "a", &kCp932, true},  // the set holds 'A' (and a double-byte character)
      {"x;[\x81;a]", "a", &kCp932, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    std::string copy = c.list;
    EXPECT_EQ(zelnar::MatchesPatternList(c.name, copy.data(), *c.leadBytes), c.matches);
    EXPECT_EQ(CompiledPatternList(c.list, *c.leadBytes).Claims(c.name), c.matches) << "compiled once";
  }
}

TEST(FileNamePart, IsEverythingBehindTheLastSeparatorThatIsNoSecondByte) {
  struct Case { const char* path; const LeadByteSet* leadBytes; const char* part; };
  const Case cases[] = {
      {"C:\\x\\\x95\x5C.htm", &kCp932, "\x95\x5C.htm"},  // '表' ends in 0x5C
      {"C:\\x\\\x95\x5C.htm", &kNoLeadBytes, ".htm"},
      {"\x95\x5C", &kCp932, "\x95\x5C"},
      {"\x95\x95\x5C" "a", &kCp932, "a"},
      {"\x95\x95\x95\x5C" "a", &kCp932, "\x95\x95\x95\x5C" "a"},
      {"\x95:a", &kCp932, "\x95:a"},
      {"a\\b\\", &kNoLeadBytes, ""},
      {"a/b", &kNoLeadBytes, "a/b"},
      {"\\", &kNoLeadBytes, ""},
      {"", &kNoLeadBytes, ""},
      {"C:", &kNoLeadBytes, ""},
      {"\x95", &kCp932, "\x95"},  // a lead byte cut short by the terminator
      // Longer paths, looked through eight bytes at a time: the separator in each place of a word.
      {"C:\\docs\\index.html", &kNoLeadBytes, "index.html"},
      {"C:\\docs\\index.html", &kCp932, "index.html"},
      {"abcdefg\\", &kNoLeadBytes, ""},
      {"abcdefg\\h", &kNoLeadBytes, "h"},
      {"\\abcdefgh", &kNoLeadBytes, "abcdefgh"},
      {"a\\bcdefghi", &kNoLeadBytes, "bcdefghi"},
      {"ab\\cdefghijklmnopq", &kNoLeadBytes, "cdefghijklmnopq"},
      {"x:a\\b:cdefghijklmnop", &kNoLeadBytes, "cdefghijklmnop"},
      {"x:a\\bc:defghijk/lmnop", &kNoLeadBytes, "defghijk/lmnop"},
      {"abcdefghijklmnopqrstuvwxyz", &kNoLeadBytes, "abcdefghijklmnopqrstuvwxyz"},
      {"\xDC\xDC\xDC\xDC\xDC\xDC\xDC\xDC\xBA\xBA", &kNoLeadBytes, "\xDC\xDC\xDC\xDC\xDC\xDC\xDC\xDC\xBA\xBA"},  // 0x5C, 0x3A with the top bit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(zelnar::ExtractFileNamePart(c.path, *c.leadBytes), c.part);
    const std::string_view part = zelnar::FileNamePart(c.path, *c.leadBytes);
    EXPECT_EQ(part, c.part);
    EXPECT_EQ(part.data(), zelnar::FindFileNamePart(c.path, *c.leadBytes));
  }
}

}  // namespace
