#include "wine_extractor/page_driver/scratch_folder.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wine_extractor/page_driver/folder_tree.h"
#include "wine_extractor/page_driver/proc_files.h"
#include "wine_extractor/protocol/page_job.h"

namespace wine_extractor {
namespace {

bool WriteAt(int dir, const std::string& name, const std::string& bytes) {
  UniqueFd fd(openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  return fd && write(fd.Get(), bytes.data(), bytes.size()) == ssize_t(bytes.size());
}

}  // namespace

ScratchFolder::ScratchFolder(int meeting) : meeting_(fcntl(meeting, F_DUPFD_CLOEXEC, 0)) {
  static const char kHex[] = "0123456789abcdef";
  unsigned char random[8];
  const std::optional<ProcStat> self = ReadProcStat("self");
  if (!meeting_ || !self || getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) return;
  std::string name = kScratchPrefix;
  for (unsigned char byte : random) name += {kHex[byte >> 4], kHex[byte & 15]};
  if (mkdirat(meeting_.Get(), name.c_str(), 0700) != 0) return;
  name_ = name;
  UniqueFd folder(openat(meeting_.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  // Which service it is for comes first: a folder without it is one being made, or left half made.
  const bool made = folder && fstat(folder.Get(), &info) == 0 && info.st_uid == geteuid() &&
                    (info.st_mode & 07777) == 0700 &&
                    WriteAt(folder.Get(), kServiceName,
                            std::to_string(self->identity.pid) + " " + std::to_string(self->identity.start)) &&
                    mkdirat(folder.Get(), "home", 0700) == 0 && mkdirat(folder.Get(), "tmp", 0700) == 0;
  if (!made) return;
  folder_ = std::move(folder);
  path_ = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(folder_.Get());
}

ScratchFolder::~ScratchFolder() {
  folder_.Reset();
  if (!name_.empty()) RemoveTree(meeting_.Get(), name_);
}

}  // namespace wine_extractor
