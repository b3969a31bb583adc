#include "wine_extractor/page_driver/folder_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <vector>

#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {

void ForEachEntry(int dir, const std::function<void(const std::string&)>& fn) {
  // A folder stream of its own: reading it moves no offset of `dir`.
  const int own = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) return;
  DIR* stream = fdopendir(own);
  if (!stream) {
    close(own);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(stream);
  // Listed first: what fn removes does not disturb the listing.
  for (const std::string& name : names) fn(name);
}

bool RemoveTree(int dir, const std::string& name) {
  struct stat info;
  if (fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(info.st_mode)) return unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT;
  {
    UniqueFd folder(openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) return false;
    ForEachEntry(folder.Get(), [&](const std::string& entry) { RemoveTree(folder.Get(), entry); });
  }
  return unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

std::optional<std::string> ReadSmallAt(int dir, const std::string& name) {
  UniqueFd fd(openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return std::nullopt;
  char buffer[4096];
  const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  return std::string(buffer, size_t(n));
}

}  // namespace wine_extractor
