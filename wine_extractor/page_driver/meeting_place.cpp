#include "wine_extractor/page_driver/meeting_place.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "wine_extractor/protocol/meeting_folder.h"

namespace wine_extractor {
namespace {

// As the kernel bounds a walk: a chain of links longer than this loops, or might as well.
constexpr int kMaxLinks = 40;

FolderFacts FactsOf(const struct stat& info) {
  FolderFacts facts;
  facts.exists = true;
  facts.link = S_ISLNK(info.st_mode);
  facts.folder = S_ISDIR(info.st_mode);
  facts.ours = info.st_uid == geteuid();
  facts.byRoot = info.st_uid == 0;
  facts.mode = info.st_mode & 07777;
  return facts;
}

// The parts of a link's target, ".." kept: it climbs back to a folder already judged.
std::vector<std::string> TargetParts(const std::string& target) {
  std::vector<std::string> parts;
  for (size_t at = 0; at <= target.size();) {
    size_t end = target.find('/', at);
    if (end == std::string::npos) end = target.size();
    if (end > at) parts.push_back(target.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

}  // namespace

bool StillThere(int dir, const std::string& name, const struct stat& info) {
  struct stat now;
  return fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == info.st_ino &&
         now.st_dev == info.st_dev;
}

bool FolderChain::InPlace() const {
  for (size_t i = 1; i < levels_.size(); ++i)
    if (!StillThere(levels_[i - 1].fd.Get(), levels_[i].name, levels_[i].info)) return false;
  return !levels_.empty();
}

// Walks down a FolderChain one name at a time, judging each folder on its open descriptor before
// anything is looked up in it.
class ChainWalk {
 public:
  explicit ChainWalk(FolderChain& chain) : chain_(chain) {}

  // Starts again at /; what is wrong with it, or "".
  std::string Root() {
    chain_.levels_.resize(std::min<size_t>(chain_.levels_.size(), 1));
    if (!chain_.levels_.empty()) return "";
    FolderChain::Level root{UniqueFd(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), "/", "/", {}};
    if (!root.fd || fstat(root.fd.Get(), &root.info) != 0) return "/ cannot be opened";
    if (std::string wrong = WhatIsWrong(FactsOf(root.info), false); !wrong.empty()) return "/ " + wrong;
    chain_.levels_.push_back(std::move(root));
    return "";
  }

  // Steps into `name` below the deepest folder: made 0700 first when missing and `make`; a link is
  // followed when `follow` (from a folder that passed, only root or the user could have put it
  // there), every folder it leads through judged in turn. What is wrong, naming the folder, or "".
  std::string Enter(const std::string& name, bool follow, bool make, bool isPrivate) {
    if (name == ".") return "";
    if (name == "..") {
      if (chain_.levels_.size() > 1) chain_.levels_.pop_back();
      return "";
    }
    const FolderChain::Level& parent = chain_.levels_.back();
    const int dir = parent.fd.Get();
    const std::string path = (parent.path == "/" ? "" : parent.path) + "/" + name;
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;
    UniqueFd fd(openat(dir, name.c_str(), flags));
    if (!fd && errno == ENOENT && make && (mkdirat(dir, name.c_str(), 0700) == 0 || errno == EEXIST))
      fd.Reset(openat(dir, name.c_str(), flags));
    struct stat info;
    if (!fd) {
      if (fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return path + " does not exist";
      if (!S_ISLNK(info.st_mode) || !follow) {
        const std::string wrong = WhatIsWrong(FactsOf(info), isPrivate);
        return path + " " + (wrong.empty() ? "cannot be opened" : wrong);
      }
      return Follow(dir, name, path, isPrivate);
    }
    if (fstat(fd.Get(), &info) != 0) return path + " cannot be opened";
    if (std::string wrong = WhatIsWrong(FactsOf(info), isPrivate); !wrong.empty()) return path + " " + wrong;
    chain_.levels_.push_back({std::move(fd), name, path, info});
    return "";
  }

  // The deepest folder, taken out of the chain; `path` says where it is.
  UniqueFd TakeDeepest(std::string& path) {
    FolderChain::Level last = std::move(chain_.levels_.back());
    chain_.levels_.pop_back();
    path = last.path;
    return std::move(last.fd);
  }

 private:
  std::string Follow(int dir, const std::string& name, const std::string& path, bool isPrivate) {
    if (++links_ > kMaxLinks) return path + " leads through too many links";
    char target[4096];
    const ssize_t length = readlinkat(dir, name.c_str(), target, sizeof target);
    if (length <= 0 || size_t(length) >= sizeof target) return path + " is a link that cannot be read";
    const std::string to(target, size_t(length));
    if (to[0] == '/')
      if (std::string wrong = Root(); !wrong.empty()) return wrong;
    const std::vector<std::string> parts = TargetParts(to);
    for (size_t i = 0; i < parts.size(); ++i) {
      // The folder the link stands for is judged as the link would be; those on the way to it, as any.
      if (std::string wrong = Enter(parts[i], true, false, i + 1 == parts.size() && isPrivate); !wrong.empty())
        return wrong;
    }
    return "";
  }

  FolderChain& chain_;
  int links_ = 0;
};

namespace {

// The spool `name` under `way`: every folder from / down. `baseWrong` is set when the way fails at
// its base or above it (where a runtime folder gives way to the cache's).
OpenedSpool Walk(const FolderWay& way, bool basePrivate, const std::string& name, std::string* baseWrong = nullptr) {
  OpenedSpool opened;
  ChainWalk walk(opened.meeting);
  const std::vector<std::string> base = Components(way.base).value_or(std::vector<std::string>());
  std::string wrong = walk.Root();
  // Above the base, links are followed to where they lead; the base itself only when it is the home.
  for (size_t i = 0; wrong.empty() && i < base.size(); ++i) {
    const bool isBase = i + 1 == base.size();
    wrong = walk.Enter(base[i], !isBase || way.baseIsHome, false, isBase && basePrivate);
  }
  if (!wrong.empty()) {
    if (baseWrong) *baseWrong = wrong;
    opened.wrong = wrong;
    return opened;
  }
  // The meeting folder and the spool are private; the folders on the way to them, the user's.
  for (size_t i = 0; wrong.empty() && i < way.steps.size(); ++i)
    wrong = walk.Enter(way.steps[i], false, true, i + 1 == way.steps.size());
  if (wrong.empty()) wrong = walk.Enter(name, false, true, true);
  if (!wrong.empty()) {
    opened.wrong = wrong;
    return opened;
  }
  // The spool is held on its own, the chain ending at the meeting folder.
  opened.spool = walk.TakeDeepest(opened.path);
  opened.name = name;
  return opened;
}

}  // namespace

OpenedSpool OpenSpool(const std::string& name, const std::string& runtimeDir, const std::string& cacheHome,
                      const std::string& home) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    OpenedSpool none;
    none.wrong = "\"" + name + "\" is no folder name";
    return none;
  }
  std::string notRuntime;
  if (const std::optional<FolderWay> runtime = RuntimeWay(runtimeDir)) {
    OpenedSpool opened = Walk(*runtime, true, name, &notRuntime);
    if (notRuntime.empty()) return opened;
  }
  const std::optional<FolderWay> cache = CacheWay(cacheHome, home);
  OpenedSpool opened;
  if (cache)
    opened = Walk(*cache, false, name);
  else
    opened.wrong = "there is no home folder";
  if (!opened.wrong.empty() && !notRuntime.empty()) opened.wrong += " (and the runtime folder " + notRuntime + ")";
  return opened;
}

SpoolPlace MakeSpool(const std::string& name, const std::string& runtimeDir, const std::string& cacheHome,
                     const std::string& home) {
  const OpenedSpool opened = OpenSpool(name, runtimeDir, cacheHome, home);
  return {opened.wrong.empty() ? opened.path : "", opened.wrong};
}

}  // namespace wine_extractor
