#include "wine_extractor/page_driver/request_policy.h"

#include <climits>
#include <cstdlib>

namespace wine_extractor {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// `path` lies below `folder` ("/" or a path without a trailing slash); with `visibleOnly`, no
// segment below the folder begins with ".".
bool Below(const std::string& path, const std::string& folder, bool visibleOnly) {
  const std::string base = folder == "/" ? std::string() : folder;
  if (path.size() <= base.size() + 1 || path.compare(0, base.size(), base) != 0 || path[base.size()] != '/')
    return false;
  if (!visibleOnly) return true;
  for (size_t at = base.size(); at != std::string::npos; at = path.find('/', at + 1))
    if (at + 1 < path.size() && path[at + 1] == '.') return false;
  return true;
}

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

std::optional<PageScope> ScopeOfPage(const std::string& page, RealPathFn realPath) {
  const size_t slash = page.rfind('/');
  if (page.empty() || page[0] != '/' || slash == std::string::npos || slash + 1 == page.size()) return std::nullopt;
  PageScope scope;
  scope.folder = page.substr(0, slash);
  std::optional<std::string> folder = realPath(scope.folder.empty() ? "/" : scope.folder);
  std::optional<std::string> real = realPath(page);
  if (!folder || !real || !Below(*real, *folder, false)) return std::nullopt;
  scope.realFolder = *folder;
  scope.realPage = *real;
  return scope;
}

RequestKind KindOfResource(const std::string& resourceType) {
  for (const char* resource : {"Stylesheet", "Font", "Image"})
    if (resourceType == resource) return RequestKind::kResource;
  return RequestKind::kDocument;
}

bool IsInline(const std::string& url) { return StartsWith(url, "data:"); }

bool RequestAllowed(const std::string& url, const PageScope& scope, RealPathFn realPath, RequestKind kind) {
  return IsInline(url) || AllowedFile(url, scope, realPath, kind);
}

std::optional<std::string> AllowedFile(const std::string& url, const PageScope& scope, RealPathFn realPath,
                                       RequestKind kind) {
  if (!StartsWith(url, "file:///")) return std::nullopt;
  std::string path = url.substr(7);
  const size_t end = path.find_first_of("?#");
  if (end != std::string::npos) path.resize(end);
  // The engine refuses an escaped slash in a file: path; should one ever pass, it must not be read
  // as a name. An escaped backslash is an ordinary byte of a Linux name.
  for (const char* escapedSlash : {"%2f", "%2F"})
    if (path.find(escapedSlash) != std::string::npos) return std::nullopt;
  std::string decoded;
  if (!PercentDecode(path, decoded)) return std::nullopt;
  // A NUL ends a Linux name early; a trailing slash names a folder.
  if (decoded.find('\0') != std::string::npos || decoded.back() == '/') return std::nullopt;
  for (size_t at = 0; at != std::string::npos;) {
    const size_t next = decoded.find('/', at + 1);
    const std::string segment = decoded.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    if (segment == "." || segment == "..") return std::nullopt;
    at = next;
  }
  // Judge where the file really is, every link followed: that is what will be opened.
  std::optional<std::string> real = realPath(decoded);
  if (!real) return std::nullopt;
  if (*real == scope.realPage) return real;
  for (const char* system : {"/proc", "/sys", "/dev"})
    if (*real == system || Below(*real, system, false)) return std::nullopt;
  if (scope.realFolder != "/" && Below(decoded, scope.folder, true) && Below(*real, scope.realFolder, true))
    return real;
  // Beyond the page's folder only what is parsed or drawn as a picture, never from a hidden folder.
  if (kind == RequestKind::kResource && !scope.strict && Below(decoded, "/", true) && Below(*real, "/", true))
    return real;
  return std::nullopt;
}

std::optional<std::string> RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return std::nullopt;
  return std::string(resolved);
}

}  // namespace wine_extractor
