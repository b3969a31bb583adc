// The request rules on any address the engine might report, paths taken as written, for a page in a
// plain folder, for one in a tree under a hidden folder, and for no page yet: whatever they allow is
// the page itself, lies in its folder, or (a resource) lies outside /proc, /sys and /dev with no hidden
// name below the folder it shares with the page; nothing is both allowed and refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/request_policy.h"

namespace {

std::optional<std::string> AsWritten(const std::string& path) { return path; }

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> segments;
  for (size_t at = 0; at < path.size();) {
    const size_t next = path.find('/', at + 1);
    segments.push_back(path.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
    at = next;
  }
  return segments;
}

// Whether a segment of `path` past those it shares with `folder` begins with ".".
bool HiddenBeside(const std::string& path, const std::string& folder) {
  const std::vector<std::string> file = Segments(path), shared = Segments(folder);
  size_t i = 0;
  while (i < file.size() && i < shared.size() && file[i] == shared[i]) ++i;
  for (; i < file.size(); ++i)
    if (!file[i].empty() && file[i][0] == '.') return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kPages[] = {"/docs/sub/page.html", "/home/u/.tool/html/std/page.html", nullptr};
  const char* page = kPages[(data[0] >> 2) % 3];
  const auto kind = data[0] & 1 ? wine_extractor::RequestKind::kResource : wine_extractor::RequestKind::kDocument;
  const std::string url(reinterpret_cast<const char*>(data) + 1, size - 1);
  wine_extractor::PageScope scope;  // no page yet
  if (page) {
    const std::optional<wine_extractor::PageScope> of = wine_extractor::ScopeOfPage(page, AsWritten);
    if (!of) std::abort();
    scope = *of;
  }
  scope.strict = data[0] & 2;
  const wine_extractor::Verdict verdict = wine_extractor::JudgeRequest(url, scope, AsWritten, kind);
  if (verdict.file && verdict.rule) std::abort();
  if (!verdict.file) return 0;
  const std::string& file = *verdict.file;
  if (!page) std::abort();
  if (file == scope.realPage) return 0;
  for (const std::string& segment : Segments(file))
    if (segment == "." || segment == "..") std::abort();
  const bool inside = file.rfind(scope.folder + "/", 0) == 0 && !HiddenBeside(file, scope.folder);
  const bool resource = kind == wine_extractor::RequestKind::kResource && !scope.strict &&
                        !HiddenBeside(file, scope.folder) && file.rfind("/proc/", 0) != 0 &&
                        file.rfind("/sys/", 0) != 0 && file.rfind("/dev/", 0) != 0;
  if (file.find('\0') != std::string::npos || !(inside || resource)) std::abort();
  return 0;
}
