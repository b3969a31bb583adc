// The spool in the meeting folder (protocol/meeting_folder.h), reached once: every folder from / down
// is opened relative to the one before it, judged on its open descriptor, and kept open, so that
// nothing after the check resolves a name again. Linux only.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {

// The folders from / down to one folder, each held open with what it was when it was judged.
class FolderChain {
 public:
  // The deepest folder.
  int Last() const { return levels_.back().fd.Get(); }
  const std::string& Path() const { return levels_.back().path; }
  bool Empty() const { return levels_.empty(); }
  // Whether each level's name in the one above still leads to the folder held open: false once one
  // of them was moved, removed or replaced.
  bool InPlace() const;

 private:
  friend class ChainWalk;
  struct Level {
    UniqueFd fd;
    std::string name;  // in the level above
    std::string path;  // as the walk reached it, for messages
    struct stat info;
  };
  std::vector<Level> levels_;
};

// The spool `name`, opened, or why there is none ("/home/u/.cache may be written by its group
// (mode 0775)"), from the environment given: $XDG_RUNTIME_DIR/zelnar when that is a private folder of
// the user's, else the cache's way. Missing folders below the base are made 0700; nothing is made or
// changed in a folder that fails.
struct OpenedSpool {
  FolderChain meeting;  // down to the meeting folder
  UniqueFd spool;
  std::string name;
  std::string path;
  std::string wrong;
};
OpenedSpool OpenSpool(const std::string& name, const std::string& runtimeDir, const std::string& cacheHome,
                      const std::string& home);

// The same, as a path: what the driver's --spool says.
struct SpoolPlace {
  std::string path;
  std::string wrong;
};
SpoolPlace MakeSpool(const std::string& name, const std::string& runtimeDir, const std::string& cacheHome,
                     const std::string& home);

// Whether `name` in `dir` is still the folder described by `info`.
bool StillThere(int dir, const std::string& name, const struct stat& info);

}  // namespace wine_extractor
