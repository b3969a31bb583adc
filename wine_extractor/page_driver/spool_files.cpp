#include "wine_extractor/page_driver/spool_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {

std::optional<std::string> ReadWhole(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return std::nullopt;
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd.Get(), buffer, sizeof buffer)) > 0 && text.size() < (1 << 20)) text.append(buffer, size_t(n));
  if (n < 0) return std::nullopt;
  return text;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
  const std::string part = path + ".part";
  UniqueFd fd(open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  const bool closed = close(fd.Release()) == 0;
  const bool ok = closed && done == bytes.size() && rename(part.c_str(), path.c_str()) == 0;
  if (!ok) unlink(part.c_str());
  return ok;
}

void ForEachFile(const std::function<void(const std::string&)>& fn) {
  DIR* dir = opendir(".");
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) fn(std::string(entry->d_name));
  closedir(dir);
}

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = strlen(suffix);
  return text.size() > n && text.compare(text.size() - n, n, suffix) == 0;
}

int64_t RealMs(const timespec& at) { return int64_t(at.tv_sec) * 1000 + at.tv_nsec / 1000000; }

int64_t RealNowMs() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return RealMs(now);
}

}  // namespace wine_extractor
