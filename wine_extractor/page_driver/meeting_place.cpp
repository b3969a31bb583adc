#include "wine_extractor/page_driver/meeting_place.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "wine_extractor/protocol/meeting_folder.h"

namespace wine_extractor {
namespace {

// One open folder, closed when it goes.
class Folder {
 public:
  explicit Folder(int fd = -1) : fd_(fd) {}
  ~Folder() {
    if (fd_ >= 0) close(fd_);
  }
  Folder(Folder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Folder& operator=(Folder&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

FolderFacts FactsOf(const struct stat& info) {
  FolderFacts facts;
  facts.exists = true;
  facts.link = S_ISLNK(info.st_mode);
  facts.folder = S_ISDIR(info.st_mode);
  facts.ours = info.st_uid == geteuid();
  facts.mode = info.st_mode & 07777;
  return facts;
}

// Opens `name` in `dir` (an absolute `name` with AT_FDCWD) as a folder, following a link there only
// when `follow`, and makes it (0700) first when it is missing and `make`; `facts` says what it is.
Folder OpenFolder(int dir, const std::string& name, bool follow, bool make, FolderFacts& facts) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
  int fd = openat(dir, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT && make && (mkdirat(dir, name.c_str(), 0700) == 0 || errno == EEXIST))
    fd = openat(dir, name.c_str(), flags);
  struct stat info;
  if (fd >= 0 && fstat(fd, &info) == 0) {
    facts = FactsOf(info);
    return Folder(fd);
  }
  if (fd >= 0) close(fd);
  facts = fstatat(dir, name.c_str(), &info, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0 ? FactsOf(info) : FolderFacts{};
  return Folder();
}

std::string Judge(const FolderFacts& facts, bool isPrivate, const Folder& folder) {
  const std::string wrong = WhatIsWrong(facts, isPrivate);
  return wrong.empty() && !folder ? "cannot be opened" : wrong;
}

// The spool `name` under `way`. When the base itself fails and `baseWrong` is given, says so there
// and gives no place.
SpoolPlace Walk(const FolderWay& way, bool basePrivate, const std::string& name, std::string* baseWrong = nullptr) {
  FolderFacts facts;
  Folder at = OpenFolder(AT_FDCWD, way.base, way.baseIsHome, false, facts);
  std::string wrong = Judge(facts, basePrivate, at);
  if (!wrong.empty()) {
    if (baseWrong) *baseWrong = way.base + " " + wrong;
    return {"", way.base + " " + wrong};
  }
  const std::string spool = way.Path() + "/" + name;
  for (size_t i = 0; i <= way.steps.size(); ++i) {
    const bool last = i == way.steps.size();
    // The meeting folder and the spool are private; the folders on the way to them, the user's.
    const bool isPrivate = i + 1 >= way.steps.size();
    Folder next = OpenFolder(at.Get(), last ? name : way.steps[i], false, true, facts);
    wrong = Judge(facts, isPrivate, next);
    if (!wrong.empty()) return {"", (last ? spool : way.StepPath(i)) + " " + wrong};
    at = std::move(next);
  }
  return {spool, ""};
}

}  // namespace

SpoolPlace MakeSpool(const std::string& name, const std::string& runtimeDir, const std::string& cacheHome,
                     const std::string& home) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return {"", "\"" + name + "\" is no folder name"};
  std::string notRuntime;
  if (const std::optional<FolderWay> runtime = RuntimeWay(runtimeDir)) {
    SpoolPlace place = Walk(*runtime, true, name, &notRuntime);
    if (notRuntime.empty()) return place;
  }
  const std::optional<FolderWay> cache = CacheWay(cacheHome, home);
  SpoolPlace place = cache ? Walk(*cache, false, name) : SpoolPlace{"", "there is no home folder"};
  if (!place.wrong.empty() && !notRuntime.empty()) place.wrong += " (and the runtime folder " + notRuntime + ")";
  return place;
}

}  // namespace wine_extractor
