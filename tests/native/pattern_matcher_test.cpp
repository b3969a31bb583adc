// The pattern grammar and the matcher: tables of pattern, name and result, every invalid form, and a
// seeded comparison with the slow reference matchers.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "filter/pattern_matcher.h"
#include "tests/support/lead_bytes_932.h"
#include "tests/support/reference_matcher.h"

namespace {

using zelnar::LeadByteSet;

const LeadByteSet kNoLeadBytes{};
const LeadByteSet kCp932 = test::LeadBytes932();

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

struct MatchCase { std::string pattern; std::string name; bool matches; };

void ExpectMatches(const MatchCase* begin, const MatchCase* end, const LeadByteSet& leadBytes) {
  for (const MatchCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(testing::Message() << "pattern \"" << c->pattern << "\" name \"" << c->name << '"');
    bool matches = !c->matches;
    EXPECT_NO_THROW(matches = zelnar::MatchesPattern(c->name.c_str(), c->pattern.c_str(), leadBytes));
    EXPECT_EQ(matches, c->matches);
  }
}

TEST(Pattern, LiteralsFoldAsciiCaseOnly) {
  const MatchCase cases[] = {
      {"page.htm", "PAGE.HTM", true}, {"PAGE.HTM", "page.htm", true}, {"a", "b", false},
      {"\xE4", "\xC4", false},  // no locale folding beyond ASCII
      {"@", "`", false},        {"^", "~", false},  {"", "", true}, {"", "a", false}, {"a", "", false},
      {"a]", "a]", true},       {"a]", "a", false}, {"!-", "!-", true}, {"a b", "A B", true},
  };
  ExpectMatches(std::begin(cases), std::end(cases), kNoLeadBytes);
}

TEST(Pattern, StarsAndQuestionMarks) {
  const MatchCase cases[] = {
      {"*", "", true},          {"*", "anything", true}, {"**", "", true},         {"*.htm", ".htm", true},
      {"*.htm", "a.htm.htm", true}, {"*.htm", "a.html", false}, {"*?.htm", ".htm", true},  // '?' adds nothing
      {"*??.htm", ".htm", true}, {"?*.htm", ".htm", false},  {"?*.htm", "a.htm", true}, {"??", "a", false},
      {"a??", "a", false},       {"a?", "ab", true},          {"a*b*c", "aXbYc", true},  {"a*b*c", "aXcYb", false},
      {"*a*b", "ba", false},     {"*ab", "aab", true},        {"*aab", "aaab", true},     {"a*", "a", true},
      {"*a", "a", true},         {"*a", "", false},           {"a*a", "a", false},        {"*?*?", "", true},
      {"?", "\x81", true},       {"*.htm", "dir/page.htm", true},
  };
  ExpectMatches(std::begin(cases), std::end(cases), kNoLeadBytes);
}

TEST(Pattern, ByteSetsNegationAndRanges) {
  const MatchCase cases[] = {
      {"[abc]", "B", true},      {"[abc]", "d", false},    {"[abc]", "", false},     {"[!abc]", "d", true},
      {"[!abc]", "a", false},    {"a[!b]", "a", false},    {"[a!]", "!", true},      {"[!!]", "!", false},
      {"[a-c]x", "bx", true},    {"[a-c]x", "dx", false},  {"[A-Z]", "q", true},     {"[a-z]", "Q", true},
      {"[A-z].htm", "^.htm", false},  // members are upper-cased: 'A' to 'Z' only
      {"[z-a].htm", "z.htm", true}, {"[z-a].htm", "Z.htm", true}, {"[z-a].htm", "a.htm", false},
      {"[a-c-e]x", "dx", true},  {"[a-c-e]x", "fx", false}, {"[[]x].htm", "[x].htm", true},
      {"[a-]]", "b", true},      {"[a-]]", "\\", true},    {"[a-]]", "b]", false},   {"[a-]]", "^", false},
      {"[*]", "*", true},        {"[*]", "x", false},      {"[?]", "?", true},       {"[?]", "x", false},
      {"[!a]", "\xE0", true},    {"[\xE0]", "\xE0", true},  // no lead bytes: 0xE0 is an ordinary member
      {"[0-9][0-9]", "42", true}, {"[0-9]", "a", false},
  };
  ExpectMatches(std::begin(cases), std::end(cases), kNoLeadBytes);
}

TEST(Pattern, StarLimit) {
  const MatchCase cases[] = {
      {Repeat("*a", 30), std::string(30, 'a'), true},
      {Repeat("*a", 30), std::string(29, 'a'), false},
      {Repeat("*a", 29) + "*", std::string(29, 'a'), true},  // the final '*' is the 30th
      {Repeat("**?*a", 30), std::string(30, 'a'), true},
      {Repeat("?", 100), std::string(100, 'x'), true},
  };
  ExpectMatches(std::begin(cases), std::end(cases), kNoLeadBytes);
  for (const std::string& pattern : {Repeat("*a", 31), Repeat("*a", 30) + "*", Repeat("*a*?", 31)}) {
    SCOPED_TRACE(pattern);
    EXPECT_THROW(zelnar::MatchesPattern("a", pattern.c_str(), kNoLeadBytes), zelnar::InvalidPatternError);
  }
}

TEST(Pattern, CompilesStarRunsIntoOneStarredElement) {
  struct Case { const char* pattern; std::size_t elements; int starred; };
  const Case cases[] = {{"**a", 2, 1},  {"*?*?a", 2, 1}, {"?*", 2, 1},        {"*", 1, 1},
                        {"", 1, 0},     {"a*b*", 3, 2},  {"[ab]*?c", 3, 1},    {"*.html", 2, 1},
                        {"ab?cd", 4, 0}, {"a*bc*d", 4, 2}, {"x\x81\x41y", 2, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    zelnar::CompiledPattern compiled;
    zelnar::CompilePattern(c.pattern, kNoLeadBytes, compiled);
    ASSERT_EQ(compiled.Size(), c.elements);
    int starred = 0;
    for (std::size_t i = 0; i < compiled.Size(); ++i) starred += compiled[i].afterStar;
    EXPECT_EQ(starred, c.starred);
    EXPECT_EQ(compiled[c.elements - 1].kind, zelnar::ElementKind::End);
  }
}

TEST(Pattern, KeepsLongPatternsWhole) {
  // More elements than the inline buffer holds.
  const std::string pattern = Repeat("[a-c]?x", 20) + "*";
  const std::string name = Repeat("bqX", 20) + "tail";
  EXPECT_TRUE(zelnar::MatchesPattern(name.c_str(), pattern.c_str(), kNoLeadBytes));
  EXPECT_FALSE(zelnar::MatchesPattern(name.substr(3).c_str(), pattern.c_str(), kNoLeadBytes));
}

TEST(Pattern, RejectsEveryInvalidForm) {
  const char* const invalid[] = {"[", "[abc", "[a-", "[a-c*.htm", "[!", "[!a", "[]", "[!]", "[]]", "[-a]", "[!-a]",
                                 "[a-]", "x[a-]", "*.htm[", "[a-c]x[", "[--]", "[-]]"};
  for (const char* pattern : invalid) {
    SCOPED_TRACE(pattern);
    EXPECT_THROW(zelnar::MatchesPattern("a", pattern, kNoLeadBytes), zelnar::InvalidPatternError);
  }
  const char* const valid[] = {"]", "!", "-", "a-b", "[[]", "[a-]]", "[!!]", "[a-a]", "[a-c-]]", "[a--]"};
  for (const char* pattern : valid) {
    SCOPED_TRACE(pattern);
    EXPECT_NO_THROW(zelnar::MatchesPattern("a", pattern, kNoLeadBytes));
  }
}

TEST(Pattern, DoubleByteCharactersInCodePage932) {
  // 'あ' 0x82 0xA0, '表' 0x95 0x5C, 'ア' 0x83 0x41 (second byte 'A').
  const MatchCase cases[] = {
      {"?.htm", "\x82\xA0.htm", false},
      {"??.htm", "\x82\xA0.htm", true},
      {"\x95\x5C.htm", "\x95\x5C.HTM", true},
      {"\x83\x41", "\x83\x61", false},  // a double-byte character is compared exactly, not case-folded
      {"[\x82\xA0" "a].htm", "a.htm", true},
      {"[\x82\xA0" "a].htm", "\x82\xA0.htm", false},
      {"[\x82\xA0" "a].htm", "A.htm", true},
      {"*\x95\x5C.htm", "a\x95\x5C.htm", true},   // odd offset: found one character at a time
      {"*\x95\x5C.htm", "\x82\xA0\x95\x5C.htm", true},
      {"*\x95\x5C", "\x95\x95\x5C", false},        // the name's 0x95 0x5C straddles two characters
      {"?*\x95\x5C", "\x95\x95\x5C", false},
      {"*\x95\x5C", "a\x95\x95\x95\x5C", true},
      {"*\x83\x41*", "\x83\x41\x83\x41", true},
      {"*\x83\x41*\x83\x41", "\x83\x41\x83\x41", true},
      {"*\x83\x41*\x83\x41", "\x83\x41", false},
      {"*[!x]*\x81\x81", "\x81\x81\x81\x81", true},  // the set takes the first two bytes
      {"*\x81\x81", "\x81", false},                  // a name cut short inside a character
      {"*\x81\x81", "\x81\x81\x81", false},
      {"a*", "a\x81", true},
      {"[\x81\x41" "b]", "A", false},  // the double-byte character adds nothing to the set
      {"[!\x81\x41" "b]", "A", true},
      {"[a\x81\x41-c]", "b", true},
      {"\x81-", "\x81-", true},
      {"[\x81-a]", "a", true},  // 0x81 0x2D is one character: no range
  };
  ExpectMatches(std::begin(cases), std::end(cases), kCp932);

  for (const char* pattern : {"\x81", "a\x81", "[\x81\x41]", "[\x81", "[a\x81", "*\x95", "[\x81\x41-a]", "[!\x81]"}) {
    SCOPED_TRACE(pattern);
    EXPECT_THROW(zelnar::MatchesPattern("a", pattern, kCp932), zelnar::InvalidPatternError);
  }
}

// Random patterns and names from a small alphabet, against both slow matchers.
TEST(Pattern, AgreesWithTheReferenceMatchersOnRandomInput) {
  std::mt19937 random(20260317);
  const char patternBytes[] = "ab*?[]!-\x81\x82";
  const char nameBytes[] = "abAB\x81\x82]-";
  int compared = 0;
  for (int round = 0; round < 40000; ++round) {
    const LeadByteSet& leadBytes = round % 2 ? kCp932 : kNoLeadBytes;
    std::string pattern, name;
    for (int n = random() % 10; n > 0; --n) pattern += patternBytes[random() % (sizeof patternBytes - 1)];
    for (int n = random() % 12; n > 0; --n) name += nameBytes[random() % (sizeof nameBytes - 1)];
    zelnar::CompiledPattern compiled;
    try {
      zelnar::CompilePattern(pattern.c_str(), leadBytes, compiled);
    } catch (const zelnar::InvalidPatternError&) {
      continue;
    }
    ++compared;
    const bool fast = zelnar::MatchesCompiledPattern(name.c_str(), compiled, leadBytes);
    ASSERT_EQ(fast, test::ReferenceMatch(name.c_str(), compiled, leadBytes)) << pattern << " / " << name;
    const auto slow = test::RetryStoreMatch(name.c_str(), compiled, leadBytes, 1000000);
    ASSERT_TRUE(slow.has_value());
    ASSERT_EQ(fast, *slow) << pattern << " / " << name;
  }
  EXPECT_GT(compared, 10000);
}

}  // namespace
