// Where the extractor and its page service meet: a folder on the Linux side that only the user can
// open, never the Windows temporary folder. Portable: the driver walks the way with what Linux says
// of each step; the extractor names the same folders and explains a failure with what Wine shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wine_extractor {

// The meeting folder's name in the runtime or cache folder.
inline constexpr char kMeetingName[] = "zelnar";

// A way to the meeting folder: a base folder and the folders below it, each opened without following
// links (and made 0700 when missing); the last is the meeting folder. The folders from / down to the
// base are walked too, a link among them followed only from a folder that passed, to where it leads,
// which is walked in turn; the base itself may be a link only when it is the home.
struct FolderWay {
  std::string base;
  std::vector<std::string> steps;
  bool baseIsHome = false;
  std::string Path() const;  // the meeting folder's path
  std::string StepPath(size_t step) const;  // the path of steps[step]
};

// $XDG_RUNTIME_DIR/zelnar: the user's runtime folder, made by the login manager, mode 0700 and
// emptied at logout. None when the variable names no absolute path. Used only when the base itself
// passes as private (IsPrivate): otherwise the cache's way is taken.
std::optional<FolderWay> RuntimeWay(const std::string& runtimeDir);

// $XDG_CACHE_HOME/zelnar when that variable is an absolute path, else ~/.cache/zelnar. A cache
// folder in the home is walked from the home down; one elsewhere is its own base. None without an
// absolute home either.
std::optional<FolderWay> CacheWay(const std::string& cacheHome, const std::string& home);

// What is known of a folder on the way: from lstat on Linux; from Wine, only what it shows.
struct FolderFacts {
  bool exists = false;
  bool link = false;
  bool folder = false;
  std::optional<bool> ours;      // owned by the user
  std::optional<bool> byRoot;    // owned by root
  std::optional<uint32_t> mode;  // permission bits
};

// Why a folder cannot be used, as words that follow its path ("is a link"); empty when it can, or
// when nothing known speaks against it. A `private` folder (the meeting folder, the spool, the
// runtime folder) must be the user's, mode 0700; every other folder from / down to it must be root's
// or the user's and writable by nobody else, its group included: another account that may write a
// folder on the way can swap what lies below it. The sticky bit excuses none (it keeps names, not
// what a name is made to be in the first place).
std::string WhatIsWrong(const FolderFacts& facts, bool isPrivate);

// The names of `path`'s components, empty ones and "." dropped; none when one is "..", which would
// climb back past a folder that was checked.
std::optional<std::vector<std::string>> Components(const std::string& path);

// How every spool's name begins.
inline constexpr char kSpoolPrefix[] = "page-service-";

// The spool's name in the meeting folder, one per page driver (a hash of its path): a service must
// be the very driver the extractor would start, so the drivers of two prefixes serve apart.
std::string SpoolName(const std::string& driverPath);

// The value of `name` in a NUL-separated environment (as /proc/PID/environ holds it); none when it
// is not there.
std::optional<std::string> EnvironmentValue(const std::string& environment, const std::string& name);

}  // namespace wine_extractor
