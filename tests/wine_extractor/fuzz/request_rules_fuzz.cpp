// The request rules on any address the engine might report, paths taken as written: whatever they
// allow is the page itself, lies in its folder, or (a resource) lies nowhere hidden and outside
// /proc, /sys and /dev.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wine_extractor/page_driver/request_policy.h"

namespace {

std::optional<std::string> AsWritten(const std::string& path) { return path; }

bool Hidden(const std::string& path) { return path.find("/.") != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto kind = data[0] & 1 ? wine_extractor::RequestKind::kResource : wine_extractor::RequestKind::kDocument;
  const std::string url(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::optional<wine_extractor::PageScope> scope = wine_extractor::ScopeOfPage("/docs/sub/page.html", AsWritten);
  if (!scope) std::abort();
  scope->strict = data[0] & 2;
  const std::optional<std::string> file = wine_extractor::AllowedFile(url, *scope, AsWritten, kind);
  if (!file || *file == scope->realPage) return 0;
  const bool inside = file->rfind("/docs/sub/", 0) == 0 && !Hidden(file->substr(9));
  const bool resource = kind == wine_extractor::RequestKind::kResource && !scope->strict && !Hidden(*file) &&
                        file->rfind("/proc/", 0) != 0 && file->rfind("/sys/", 0) != 0 && file->rfind("/dev/", 0) != 0;
  if (file->find('\0') != std::string::npos || file->find("/../") != std::string::npos || !(inside || resource))
    std::abort();
  return 0;
}
