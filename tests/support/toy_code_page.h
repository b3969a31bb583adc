// A small code page for testing the character narrowing rule without Windows: ASCII as itself, a few
// characters as one or two bytes, one character outside the BMP as four bytes, everything else
// (lone surrogates included) without a form. Its table is keyed by code point, so the tests that use
// it decode UTF-16 on their own rather than through the code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace test {

// The bytes of a code point in the toy code page, or false. Lone surrogates arrive as their own value.
inline bool ToyBytes(uint32_t codePoint, std::string* out) {
  if (codePoint >= 0x20 && codePoint < 0x7F) {
    *out += char(codePoint);
    return true;
  }
  switch (codePoint) {
    case 0xE9: *out += '\xE9'; return true;                    // é, one byte
    case 0x8868: *out += "\x95\x5C"; return true;              // 表, two bytes, the second a '\'
    case 0x3042: *out += "\x82\xA0"; return true;              // あ
    case 0x1F600: *out += "\xF0\x9F\x98\x80"; return true;     // an emoji, only as a pair
    default: return false;
  }
}

// The encoder the narrowing rule calls: decodes the units it is given, one character, then the table.
inline bool ToyEncoder(const char16_t* units, size_t count, std::string* out, void*) {
  uint32_t codePoint = units[0];
  if (count == 2) codePoint = 0x10000 + ((uint32_t(units[0]) - 0xD800) << 10) + (uint32_t(units[1]) - 0xDC00);
  return ToyBytes(codePoint, out);
}

}  // namespace test
