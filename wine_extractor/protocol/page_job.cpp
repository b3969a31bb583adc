#include "wine_extractor/protocol/page_job.h"

#include "wine_extractor/protocol/json_writer.h"

namespace wine_extractor {

namespace {

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

}  // namespace

// A Linux path is bytes: one that is no UTF-8 (a name from an old archive, say) travels as their hex
// digits, which JSON carries unchanged.
std::string FormatJob(const PageJob& job) {
  std::string page = IsUtf8(job.page) ? "\"page\":" + JsonString(job.page) : "\"pageBytes\":\"";
  if (!IsUtf8(job.page)) {
    static const char kHex[] = "0123456789abcdef";
    for (unsigned char byte : job.page) page += {kHex[byte >> 4], kHex[byte & 15]};
    page += '"';
  }
  return "{" + page + ",\"width\":" + std::to_string(job.width) +
         ",\"height\":" + std::to_string(job.height) + ",\"limit\":" + std::to_string(job.timeLimitMs) +
         ",\"memory\":" + std::to_string(job.memoryLimitMb) +
         ",\"strict\":" + (job.strictFolder ? "true" : "false") + "}";
}

}  // namespace wine_extractor
