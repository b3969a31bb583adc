// The narrowing rule on a toy code page: one '?' per character without a form, a surrogate pair being
// one character and a lone surrogate another.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/toy_code_page.h"
#include "win/character_narrowing.h"

namespace {

std::string Narrow(const std::u16string& text) { return zelnar::NarrowEachCharacter(text, test::ToyEncoder, nullptr); }

TEST(CharacterNarrowing, EachCharacterWithoutAFormIsOneQuestionMark) {
  struct Case { std::u16string text; std::string narrow; };
  const Case cases[] = {
      {u"", ""},
      {u"page.htm", "page.htm"},
      {u"caf\u00E9.htm", "caf\xE9.htm"},
      {u"\u8868.htm", "\x95\x5C.htm"},
      {u"\u65E5\u672C\u8A9E.html", "???.html"},                        // three characters, three '?'
      {u"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.htm", "????????.htm"},
      {u"a\U0001F600b", "a\xF0\x9F\x98\x80" "b"},                          // a pair the code page has
      {u"a\U0001F601b", "a?b"},                                         // a pair it lacks: one '?', not two
      {u"a\xD800" u"b", "a?b"},                                          // lone high surrogate
      {u"a\xDC00" u"b", "a?b"},                                          // lone low surrogate
      {u"\xDC00\xD800", "??"},                                          // low before high: two characters
      {u"\xD800", "?"},                                                 // a high surrogate at the very end
      {u"\xD83D\xD83D\xDE00", "?\xF0\x9F\x98\x80"},                     // a lone high, then a pair
      {u"page\uFF0Ehtm", "page?htm"},                                   // no look-alike for the dot
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.narrow);
    EXPECT_EQ(Narrow(c.text), c.narrow);
  }
}

TEST(CharacterNarrowing, APairIsOneCharacterOnlyInTheRightOrder) {
  const std::u16string text = u"\xD800\xDC00\xDC00\xD800x";
  EXPECT_EQ(zelnar::CharacterUnits(text, 0), 2u);
  EXPECT_EQ(zelnar::CharacterUnits(text, 1), 1u);
  EXPECT_EQ(zelnar::CharacterUnits(text, 2), 1u);
  EXPECT_EQ(zelnar::CharacterUnits(text, 3), 1u);
  EXPECT_EQ(zelnar::CharacterUnits(text, 4), 1u);
}

}  // namespace
