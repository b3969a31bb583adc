#include "tools/browser_extractor/request_policy.h"

namespace browser {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

bool PercentDecode(const std::string& text, std::string& decoded) {
  decoded.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    decoded += char(high * 16 + low);
    i += 2;
  }
  return true;
}

bool RequestAllowed(const std::string& url, const std::string& folder) {
  // Inline content: nothing is fetched.
  if (StartsWith(url, "data:")) return true;
  if (!StartsWith(url, "file:///")) return false;
  std::string path = url.substr(7);
  const size_t end = path.find_first_of("?#");
  if (end != std::string::npos) path.resize(end);
  // An escaped slash would pass the comparison as a name and act as a separator.
  for (const char* escapedSlash : {"%2f", "%2F", "%5c", "%5C"})
    if (path.find(escapedSlash) != std::string::npos) return false;
  std::string decoded;
  if (!PercentDecode(path, decoded)) return false;
  if (decoded.find('\0') != std::string::npos) return false;
  for (size_t at = 0; at != std::string::npos;) {
    const size_t next = decoded.find('/', at + 1);
    const std::string segment = decoded.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    if (segment == "." || segment == "..") return false;
    at = next;
  }
  return decoded.size() > folder.size() + 1 && decoded.compare(0, folder.size(), folder) == 0 &&
         decoded[folder.size()] == '/';
}

}  // namespace browser
