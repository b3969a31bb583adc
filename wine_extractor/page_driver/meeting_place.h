// The spool in the meeting folder (protocol/meeting_folder.h), made and checked with what Linux says
// of each folder on the way. Linux only.
#pragma once

#include <string>

namespace wine_extractor {

// The spool `name`'s path, or why there is none ("/home/u/.cache is a link"), from the environment
// given: $XDG_RUNTIME_DIR/zelnar when that is a private folder of the user's, else the cache's way.
// Each folder is opened without following links (the home, as a base, may be a link), made 0700
// when missing, and judged before the next one is opened; nothing is made or changed in a folder
// that fails.
struct SpoolPlace {
  std::string path;
  std::string wrong;
};
SpoolPlace MakeSpool(const std::string& name, const std::string& runtimeDir, const std::string& cacheHome,
                     const std::string& home);

}  // namespace wine_extractor
