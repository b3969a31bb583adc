// Differential fuzz target for the narrowing rule. Input: UTF-16 units, little-endian byte pairs. The
// production rule, with the toy code page, must give what a reference built another way gives: decode
// the whole text to code points first (a lone surrogate is its own code point), then one form or one
// '?' per code point.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/toy_code_page.h"
#include "win/character_narrowing.h"

namespace {

std::vector<uint32_t> CodePoints(const std::u16string& text) {
  std::vector<uint32_t> points;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t unit = text[i];
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    const uint32_t next = i + 1 < text.size() ? text[i + 1] : 0;
    if (high && next >= 0xDC00 && next < 0xE000) {
      points.push_back(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
      ++i;
    } else {
      points.push_back(unit);
    }
  }
  return points;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text += char16_t(data[i] | (data[i + 1] << 8));

  std::string expected;
  for (uint32_t point : CodePoints(text))
    if (!test::ToyBytes(point, &expected)) expected += '?';

  const std::string narrow = zelnar::NarrowEachCharacter(text, test::ToyEncoder, nullptr);
  if (narrow != expected) std::abort();
  return 0;
}
