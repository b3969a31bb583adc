// The engine's scratch folder: its home, temporary folder, configuration, cache and log, in a private
// folder of the meeting folder that records the service it belongs to, so that a later service can
// tell it is left over once that one is gone. Linux only.
#pragma once

#include <string>

#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {

inline constexpr char kScratchPrefix[] = "scratch.";

class ScratchFolder {
 public:
  // Makes it in the folder `meeting` (a descriptor, kept as a copy of its own); none on failure.
  explicit ScratchFolder(int meeting);
  // Removes it with everything the engine left in it.
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  explicit operator bool() const { return bool(folder_); }
  // Its path through this process's own descriptor (/proc/PID/fd/N): whoever uses it reaches the
  // folder that was made and checked, whatever the names on the way to it come to hold.
  const std::string& Path() const { return path_; }

 private:
  UniqueFd meeting_, folder_;
  std::string name_, path_;
};

}  // namespace wine_extractor
