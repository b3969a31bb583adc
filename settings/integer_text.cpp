// Strict integer parsing for the dialog's size fields.
#include "settings/integer_text.h"

namespace zelnar {
namespace {

constexpr uint32_t kLastHexValueBeforeDigit = 0x0FFFFFFF;  // one more digit would lose high bits
constexpr int64_t kMostNegative = 2147483648;              // magnitude of INT32_MIN

int HexDigit(char16_t c) noexcept {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

std::optional<int32_t> ParseIntegerText(std::u16string_view text) noexcept {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == u' ') ++i;

  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';

  bool hex = false;
  if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i == n) return std::nullopt;  // no digit at all

  if (hex) {
    uint32_t value = 0;
    for (; i < n; ++i) {
      const int digit = HexDigit(text[i]);
      if (digit < 0 || value > kLastHexValueBeforeDigit) return std::nullopt;
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(value);
  }

  int64_t magnitude = 0;
  for (; i < n; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
    magnitude = magnitude * 10 + (text[i] - u'0');
    if (magnitude > kMostNegative) return std::nullopt;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace zelnar
