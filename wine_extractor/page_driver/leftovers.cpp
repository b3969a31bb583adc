#include "wine_extractor/page_driver/leftovers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "wine_extractor/page_driver/folder_tree.h"
#include "wine_extractor/page_driver/proc_files.h"
#include "wine_extractor/page_driver/scratch_folder.h"
#include "wine_extractor/page_driver/spool_files.h"
#include "wine_extractor/page_driver/unique_fd.h"
#include "wine_extractor/protocol/meeting_folder.h"
#include "wine_extractor/protocol/page_job.h"
#include "wine_extractor/protocol/queue_report.h"

namespace wine_extractor {
namespace {

// Files younger than this may belong to a service being made or a host handing in a page.
constexpr int64_t kInUseMs = 10000;

bool Young(const struct stat& info) { return RealMs(info.st_mtim) + kInUseMs > RealNowMs(); }

// Whether the `service` file in `folder` names a process that still runs.
bool ServiceLives(int folder) {
  const std::optional<std::string> text = ReadSmallAt(folder, kServiceName);
  const std::optional<ProcessIdentity> named = text ? ParseIdentity(*text) : std::nullopt;
  if (!named) return false;
  const std::optional<ProcStat> proc = ReadProcStat(std::to_string(named->pid));
  return proc && proc->identity == *named && proc->state != 'Z' && proc->state != 'X';
}

void RemoveScratch(int meeting, const std::string& name) {
  UniqueFd folder(openat(meeting, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (!folder || fstat(folder.Get(), &info) != 0 || ServiceLives(folder.Get())) return;
  // Without its record it is still being made, unless that was long ago.
  struct stat record;
  if (fstatat(folder.Get(), kServiceName, &record, AT_SYMLINK_NOFOLLOW) != 0 && Young(info)) return;
  folder.Reset();
  RemoveTree(meeting, name);
}

void RemoveSpool(int meeting, const std::string& name, const struct stat& own) {
  UniqueFd folder(openat(meeting, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (!folder || fstat(folder.Get(), &info) != 0 || (info.st_ino == own.st_ino && info.st_dev == own.st_dev)) return;
  // Held while the folder is looked through: a service starting in it waits, as for an ending one.
  UniqueFd lock(openat(folder.Get(), kLockName, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (lock && flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) return;
  if (ServiceLives(folder.Get())) return;
  const std::string part = std::string(kServiceName) + ".part", report = std::string(kQueueName) + ".part";
  ForEachEntry(folder.Get(), [&](const std::string& entry) {
    struct stat file;
    if (fstatat(folder.Get(), entry.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) return;
    // The gone service's own files go at once; a host's young ones stay for it.
    const bool own = entry == kServiceName || entry == kLockName || entry == part || entry == kQueueName || entry == report;
    if (own || !Young(file)) RemoveTree(folder.Get(), entry);
  });
  // Fails while anything young stays, or came meanwhile: that is for the service it belongs to.
  unlinkat(meeting, name.c_str(), AT_REMOVEDIR);
}

}  // namespace

void RemoveLeftovers(int meeting, const struct stat& own) {
  ForEachEntry(meeting, [&](const std::string& name) {
    if (name.rfind(kScratchPrefix, 0) == 0) RemoveScratch(meeting, name);
    if (name.rfind(kSpoolPrefix, 0) == 0) RemoveSpool(meeting, name, own);
  });
}

}  // namespace wine_extractor
