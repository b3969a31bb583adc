// A UTF-16 name in ANSI bytes, checked against the code page's own round trip on seeded random names:
// a character keeps its bytes exactly when they convert back to it, and otherwise becomes one '?'.
// Runs in the western locale (1252) and in the Japanese one (932). Below, the UTF-8 conversions.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "win/ansi_name.h"
#include "win/text_conversion.h"

namespace {

// One character by the round-trip definition, independent of the no-best-fit flag: the system's
// default conversion (look-alikes allowed), kept only when it reads back as the same character.
std::string Reference(const std::wstring& character) {
  char bytes[16];
  const int n = WideCharToMultiByte(CP_ACP, 0, character.data(), int(character.size()), bytes, sizeof bytes,
                                    nullptr, nullptr);
  if (n <= 0) return "?";
  wchar_t back[8];
  const int m = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, n, back, 8);
  if (m != int(character.size()) || std::wstring(back, m) != character) return "?";
  return std::string(bytes, n);
}

// Characters from where names come from: ASCII, Latin-1, Greek, kana and kanji, full-width forms,
// the code pages' own gaps, surrogate pairs, and lone surrogates of both kinds.
std::wstring RandomCharacter(std::mt19937& random) {
  struct Range { wchar_t first; wchar_t last; };
  static const Range ranges[] = {{0x20, 0x7E},     {0x80, 0xFF},     {0x100, 0x17F},   {0x391, 0x3C9},
                                 {0x3041, 0x30FF}, {0x4E00, 0x9FFF}, {0xFF01, 0xFF9F}, {0x2000, 0x206F},
                                 {0xE000, 0xE0FF}, {0xD800, 0xDBFF}, {0xDC00, 0xDFFF}};
  const int pick = int(random() % (sizeof ranges / sizeof ranges[0] + 1));
  if (pick == int(sizeof ranges / sizeof ranges[0])) {
    const uint32_t code = 0x10000 + random() % 0x100000;
    return {wchar_t(0xD800 + ((code - 0x10000) >> 10)), wchar_t(0xDC00 + ((code - 0x10000) & 0x3FF))};
  }
  const Range& r = ranges[pick];
  return {wchar_t(r.first + random() % (r.last - r.first + 1))};
}

TEST(AnsiName, EachCharacterKeepsItsExactBytesOrBecomesOneQuestionMark) {
  std::mt19937 random(20261207);
  for (int i = 0; i < 3000; ++i) {
    std::wstring name;
    std::string expected;
    const int length = 1 + int(random() % 12);
    for (int c = 0; c < length; ++c) {
      std::wstring character = RandomCharacter(random);
      // Two lone surrogates in a row would make a pair: then they are one character.
      if (!name.empty() && name.back() >= 0xD800 && name.back() <= 0xDBFF && character[0] >= 0xDC00 &&
          character[0] <= 0xDFFF)
        character = L"x";
      name += character;
      expected += Reference(character);
    }
    ASSERT_EQ(zelnar::NarrowNameToAnsi(name), expected) << "seed step " << i;
  }
}

TEST(AnsiName, NamesTheCodePageSpellsComeBackUnchanged) {
  for (int b = 1; b < 256; ++b) {
    const char byte = char(b);
    wchar_t wide[2];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, wide, 2) != 1) continue;  // a lead byte
    if (Reference(std::wstring(1, wide[0])) != std::string(1, byte)) continue;  // no round trip in this code page
    EXPECT_EQ(zelnar::NarrowNameToAnsi(std::wstring(1, wide[0])), std::string(1, byte)) << b;
  }
  EXPECT_EQ(zelnar::NarrowNameToAnsi(L""), "");
  EXPECT_EQ(zelnar::NarrowNameToAnsi(L"C:\\x\\page.htm"), "C:\\x\\page.htm");
  EXPECT_EQ(zelnar::NarrowNameToAnsi(L"a\U0001F600b"), "a?b");
  EXPECT_EQ(zelnar::NarrowNameToAnsi(L"\uFF0E"), GetACP() == 932 ? "\x81\x44" : "?") << "no best fit to '.'";
  EXPECT_EQ(zelnar::NarrowNameToAnsi(L"\u0100"), "?") << "no best fit to 'A'";
  EXPECT_EQ(zelnar::NarrowNameToAnsi(std::wstring(40000, L'\u20AC')).size(), 40000u);
}

// UTF-8 from and to the Linux side: what a path may hold arrives whole, a stray byte of another
// program's text becomes U+FFFD, and only the strict form refuses it.
TEST(TextConversion, Utf8BothWaysReplacingOnlyWhereAsked) {
  struct Case { std::string utf8; std::wstring wide; bool valid; };
  const Case cases[] = {
      {"", L"", true},
      {"/home/u/\xE6\x97\xA5\xE6\x9C\xAC/a b.html", L"/home/u/\u65E5\u672C/a b.html", true},
      {"\xF0\x9F\x98\x80", L"\U0001F600", true},
      {"a\xFF" "b", L"a\uFFFDb", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(zelnar::WidenUtf8Replacing(c.utf8), c.wide);
    if (c.valid) {
      EXPECT_EQ(zelnar::WidenUtf8(c.utf8), c.wide);
      EXPECT_EQ(zelnar::NarrowToUtf8(c.wide), c.utf8);
    } else {
      EXPECT_THROW(zelnar::WidenUtf8(c.utf8), zelnar::TextConversionError);
    }
  }
  EXPECT_EQ(zelnar::NarrowToUtf8(L"a\xD800" L"b"), "a\xEF\xBF\xBD" "b") << "a lone surrogate";
}

}  // namespace
