#include "wine_extractor/protocol/text_fields.h"

#include <cstdlib>

namespace wine_extractor {

bool ParseCount(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::strtoull(text.c_str(), nullptr, 10);
  return true;
}

std::vector<std::string> SplitAt(const std::string& line, char separator) {
  std::vector<std::string> fields;
  for (size_t at = 0;;) {
    const size_t end = line.find(separator, at);
    fields.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return fields;
    at = end + 1;
  }
}

}  // namespace wine_extractor
