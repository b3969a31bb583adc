#include "wine_extractor/page_driver/request_policy.h"

#include <algorithm>
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

// `path` lies below `folder` ("/" or a path without a trailing slash).
bool Below(const std::string& path, const std::string& folder) {
  const std::string base = folder == "/" ? std::string() : folder;
  return path.size() > base.size() + 1 && path.compare(0, base.size(), base) == 0 && path[base.size()] == '/';
}

// Whether a segment of `path` below the deepest folder it shares with `folder` ("/", "" or a path
// without a trailing slash) begins with ".": what the page and the file share is where the user keeps
// them both, and says nothing of what lies beside.
bool HiddenBelowShared(const std::string& path, const std::string& folder) {
  const std::string base = folder == "/" ? std::string() : folder;
  size_t shared = 0;  // path[0, shared) is a folder both lie in; path[shared] == '/'
  while (shared < path.size()) {
    const size_t end = std::min(path.find('/', shared + 1), path.size());
    if (end > base.size() || base.compare(shared, end - shared, path, shared, end - shared) != 0 ||
        (end < base.size() && base[end] != '/'))
      break;
    shared = end;
  }
  for (size_t at = shared; at < path.size(); at = path.find('/', at + 1))
    if (at + 1 < path.size() && path[at + 1] == '.') return true;
  return false;
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
  if (!folder || !real || !Below(*real, *folder)) return std::nullopt;
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

const char* RuleText(Rule rule) {
  switch (rule) {
    case Rule::kOutside: return "a document from outside the page's folder";
    case Rule::kHidden: return "a hidden folder";
    case Rule::kNotRegular: return "not a regular file";
    case Rule::kTooManyFiles: return "more files than one page may open";
    case Rule::kSystem: return "a system folder";
    case Rule::kNetwork: return "the network";
  }
  return "";
}

Verdict JudgeRequest(const std::string& url, const PageScope& scope, RealPathFn realPath, RequestKind kind) {
  // Anything but a local file reaches for the network, or for the engine's own pages.
  if (!StartsWith(url, "file:///")) return {std::nullopt, Rule::kNetwork};
  // No page yet: nothing is its folder.
  if (scope.realFolder.empty()) return {std::nullopt, Rule::kOutside};
  std::string path = url.substr(7);
  const size_t end = path.find_first_of("?#");
  if (end != std::string::npos) path.resize(end);
  // The engine refuses an escaped slash in a file: path; should one ever pass, it must not be read
  // as a name. An escaped backslash is an ordinary byte of a Linux name.
  for (const char* escapedSlash : {"%2f", "%2F"})
    if (path.find(escapedSlash) != std::string::npos) return {};
  std::string decoded;
  if (!PercentDecode(path, decoded)) return {};
  // A NUL ends a Linux name early.
  if (decoded.find('\0') != std::string::npos) return {};
  for (size_t at = 0; at != std::string::npos;) {
    const size_t next = decoded.find('/', at + 1);
    const std::string segment = decoded.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    if (segment == "." || segment == "..") return {};
    at = next;
  }
  // The system's folders by the name the page uses, too: /proc/self/cwd leads to whatever folder the
  // driver works in.
  for (const char* system : {"/proc", "/sys", "/dev"})
    if (decoded == system || Below(decoded, system)) return {std::nullopt, Rule::kSystem};
  // Judge where the file really is, every link followed: that is what will be opened.
  std::optional<std::string> real = realPath(decoded);
  if (!real) return {};
  // A trailing slash names a folder.
  if (decoded.back() == '/') return {std::nullopt, Rule::kNotRegular};
  if (*real == scope.realPage) return {std::move(real), std::nullopt};
  for (const char* system : {"/proc", "/sys", "/dev"})
    if (*real == system || Below(*real, system)) return {std::nullopt, Rule::kSystem};
  const bool inside = scope.realFolder != "/" && Below(decoded, scope.folder) && Below(*real, scope.realFolder);
  // Beyond the page's folder only what is parsed or drawn as a picture.
  if (!inside && (kind == RequestKind::kDocument || scope.strict)) return {std::nullopt, Rule::kOutside};
  if (HiddenBelowShared(decoded, scope.folder) || HiddenBelowShared(*real, scope.realFolder))
    return {std::nullopt, Rule::kHidden};
  return {std::move(real), std::nullopt};
}

std::optional<std::string> RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return std::nullopt;
  return std::string(resolved);
}

}  // namespace wine_extractor
