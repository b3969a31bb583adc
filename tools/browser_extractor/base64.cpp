#include "tools/browser_extractor/base64.h"

namespace browser {

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

}  // namespace browser
