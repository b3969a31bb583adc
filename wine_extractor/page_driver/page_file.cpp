#include "wine_extractor/page_driver/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace wine_extractor {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace

PageFile ReadPageFile(const std::string& realPath, uint64_t maxBytes) {
  // O_NOFOLLOW and O_DIRECTORY meet a link with ELOOP or ENOTDIR; any other error is a file that went.
  auto refusedOrGone = [] {
    return errno == ELOOP || errno == ENOTDIR ? PageFile{std::nullopt, Rule::kNotRegular} : PageFile{};
  };
  if (realPath.size() < 2 || realPath[0] != '/') return {};
  Descriptor folder(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) return {};
  size_t at = 1;
  for (;;) {
    const size_t slash = realPath.find('/', at);
    const std::string name = realPath.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    if (name.empty() || name == "." || name == "..") return {};
    if (slash == std::string::npos) {
      // Non-blocking, so that a FIFO put in the file's place opens at once, and is then refused.
      Descriptor file(openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      if (file.get() < 0) return refusedOrGone();
      struct stat info;
      if (fstat(file.get(), &info) != 0) return {};
      if (!S_ISREG(info.st_mode)) return {std::nullopt, Rule::kNotRegular};
      if (uint64_t(info.st_size) > maxBytes) return {std::nullopt, Rule::kOverSize};
      std::string bytes(size_t(info.st_size), '\0');
      size_t done = 0;
      while (done < bytes.size()) {
        const ssize_t n = read(file.get(), &bytes[done], bytes.size() - done);
        if (n < 0) return {};
        if (n == 0) break;
        done += size_t(n);
      }
      // A file that shrank while read gives what it held.
      bytes.resize(done);
      return {std::move(bytes), std::nullopt};
    }
    folder.Reset(openat(folder.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0) return refusedOrGone();
    at = slash + 1;
  }
}

std::string ContentTypeOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
  static const struct {
    const char* extension;
    const char* type;
  } kTypes[] = {
      {"html", "text/html"},         {"htm", "text/html"},           {"shtml", "text/html"},
      {"xhtml", "application/xhtml+xml"}, {"xht", "application/xhtml+xml"}, {"xml", "text/xml"},
      {"svg", "image/svg+xml"},      {"css", "text/css"},            {"txt", "text/plain"},
      {"js", "text/javascript"},     {"mjs", "text/javascript"},     {"json", "application/json"},
      {"png", "image/png"},          {"apng", "image/apng"},         {"gif", "image/gif"},
      {"jpg", "image/jpeg"},         {"jpeg", "image/jpeg"},         {"jfif", "image/jpeg"},
      {"webp", "image/webp"},        {"avif", "image/avif"},         {"bmp", "image/bmp"},
      {"ico", "image/x-icon"},       {"tif", "image/tiff"},          {"tiff", "image/tiff"},
      {"woff", "font/woff"},         {"woff2", "font/woff2"},        {"ttf", "font/ttf"},
      {"otf", "font/otf"},           {"pdf", "application/pdf"},
  };
  for (const auto& known : kTypes)
    if (extension == known.extension) return known.type;
  return "";
}

}  // namespace wine_extractor
