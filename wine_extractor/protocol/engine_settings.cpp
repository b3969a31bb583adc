#include "wine_extractor/protocol/engine_settings.h"

namespace wine_extractor {

uint32_t ParseSetting(const std::string& text, uint32_t max, uint32_t fallback) {
  if (text.empty() || text.size() > 9) return fallback;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + uint32_t(c - '0');
  }
  return value >= 1 && value <= max ? value : fallback;
}

uint32_t ParseTimeLimit(const std::string& text, uint32_t fallback) {
  return ParseSetting(text, kMaxTimeLimitMs, fallback);
}

}  // namespace wine_extractor
