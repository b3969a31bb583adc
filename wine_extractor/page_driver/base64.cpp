#include "wine_extractor/page_driver/base64.h"

#include <cstdint>

namespace wine_extractor {

bool Base64Decode(const std::string& text, std::string& bytes) {
  bytes.clear();
  bytes.reserve(text.size() / 4 * 3);
  unsigned buffer = 0;
  int bits = 0;
  size_t padding = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+') value = 62;
    else if (c == '/') value = 63;
    else if (c == '=') {
      ++padding;
      continue;
    } else {
      return false;
    }
    if (padding) return false;  // data after padding
    buffer = (buffer << 6) | unsigned(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += char((buffer >> bits) & 0xFF);
    }
  }
  return padding <= 2;
}

std::string Base64Encode(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned group = unsigned(uint8_t(bytes[i])) << 16 | unsigned(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
    for (int shift : {18, 12, 6, 0}) text += kAlphabet[(group >> shift) & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const unsigned group = unsigned(uint8_t(bytes[i])) << 16 | (two ? unsigned(uint8_t(bytes[i + 1])) << 8 : 0u);
    text += kAlphabet[group >> 18];
    text += kAlphabet[(group >> 12) & 63];
    text += two ? kAlphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

}  // namespace wine_extractor
