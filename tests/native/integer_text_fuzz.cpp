// Fuzzes the size-field conversion against a slow reference written from the rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/integer_text.h"

namespace {

// The rules, spelled out differently: strip, split off sign and prefix, then check digits.
bool Reference(const std::u16string& text, int32_t* out) {
  std::u16string rest = text.substr(std::min(text.find_first_not_of(u' '), text.size()));
  bool negative = false;
  if (!rest.empty() && (rest[0] == u'+' || rest[0] == u'-')) {
    negative = rest[0] == u'-';
    rest.erase(0, 1);
  }
  int base = 10;
  if (!rest.empty() && (rest[0] == u'$' || rest[0] == u'x' || rest[0] == u'X')) {
    base = 16;
    rest.erase(0, 1);
  } else if (rest.size() >= 2 && rest[0] == u'0' && (rest[1] == u'x' || rest[1] == u'X')) {
    base = 16;
    rest.erase(0, 2);
  }
  if (rest.empty()) return false;
  std::string digits;
  for (char16_t c : rest) {
    const bool dec = c >= u'0' && c <= u'9';
    const bool hex = (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (!dec && !(base == 16 && hex)) return false;
    digits.push_back(static_cast<char>(c));
  }
  const size_t firstNonZero = std::min(digits.find_first_not_of('0'), digits.size() - 1);
  digits = digits.substr(firstNonZero);
  if (base == 16) {
    if (digits.size() > 8) return false;
    *out = static_cast<int32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    return true;
  }
  if (digits.size() > 10) return false;
  const long long value = std::strtoll(digits.c_str(), nullptr, 10) * (negative ? -1 : 1);
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Mostly the characters that matter, so that the interesting forms come up often.
  static const char16_t kAlphabet[] = u" +-$xX0123456789aAfFgG.,\t\x3000\xFF10";
  std::u16string text;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] < 0xE0) {
      text.push_back(kAlphabet[data[i] % (sizeof kAlphabet / sizeof kAlphabet[0] - 1)]);
    } else {
      const uint8_t low = i + 1 < size ? data[i + 1] : 0;
      text.push_back(static_cast<char16_t>(data[i] << 8 | low));
      ++i;
    }
  }
  int32_t expected = 0;
  const bool ok = Reference(text, &expected);
  const auto parsed = zelnar::ParseIntegerText(text);
  if (parsed.has_value() != ok || (ok && *parsed != expected)) std::abort();
  return 0;
}
