#include "wine_extractor/page_driver/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace wine_extractor {
PageFile OpenPageFile(const std::string& realPath) {
  // O_NOFOLLOW and O_DIRECTORY meet a link with ELOOP or ENOTDIR; out of descriptors, the page has
  // asked for too much; any other error is a file that went.
  auto refusedOrGone = [] {
    if (errno == ELOOP || errno == ENOTDIR) return PageFile{UniqueFd(), Rule::kNotRegular};
    if (errno == EMFILE || errno == ENFILE) return PageFile{UniqueFd(), Rule::kTooManyFiles};
    return PageFile{};
  };
  if (realPath.size() < 2 || realPath[0] != '/') return {};
  UniqueFd folder(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return refusedOrGone();
  size_t at = 1;
  for (;;) {
    const size_t slash = realPath.find('/', at);
    const std::string name = realPath.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    if (name.empty() || name == "." || name == "..") return {};
    if (slash == std::string::npos) {
      // Non-blocking, so that a FIFO put in the file's place opens at once, and is then refused.
      UniqueFd file(openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      if (!file) return refusedOrGone();
      struct stat info;
      if (fstat(file.Get(), &info) != 0) return {};
      if (!S_ISREG(info.st_mode)) return {UniqueFd(), Rule::kNotRegular};
      return {std::move(file), std::nullopt};
    }
    folder.Reset(openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) return refusedOrGone();
    at = slash + 1;
  }
}

// The engine opens the driver's descriptor through /proc, which gives it the very file the driver
// opened and judged, whatever its name leads to by then. The engine keeps the address it was asked
// for as the file's: addresses inside resolve against it, and its type is that of the name asked for.
std::string DescriptorUrl(int fd) { return "file:///proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd); }

}  // namespace wine_extractor
