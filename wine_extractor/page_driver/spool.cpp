#include "wine_extractor/page_driver/spool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>

#include "wine_extractor/page_driver/clock.h"
#include "wine_extractor/page_driver/folder_tree.h"
#include "wine_extractor/page_driver/leftovers.h"
#include "wine_extractor/page_driver/proc_files.h"
#include "wine_extractor/page_driver/spool_files.h"
#include "wine_extractor/protocol/page_job.h"

namespace wine_extractor {
namespace {

// How long a starting service waits for one that is ending to let go of the folder.
constexpr int64_t kLockWaitMs = 5000;
// How often the service shows it makes progress (kServiceFrozenMs without a sign, it counts as frozen).
constexpr int64_t kBeatMs = 200;
// Files of pages whose host has not come for them in this long are left over from a host that died.
constexpr int64_t kLeftOverMs = 10000;
// How often the service looks whether its folder still lies at its name.
constexpr int64_t kLookMs = 250;

// While another service holds the lock: false when it lives and makes progress. One that is gone
// lets go of the lock by itself; one that is stopped, or shows no sign of progress, is killed. Only
// this account's processes can hold a lock in the folder. One killed here is waited for: until it
// is gone it no longer looks stopped, and may look as if it lived on.
bool EndFrozen(std::optional<ProcessIdentity>& killed) {
  const std::optional<std::string> text = ReadWhole(kServiceName);
  const std::optional<ProcessIdentity> named = text ? ParseIdentity(*text) : std::nullopt;
  if (!named) return true;
  const std::optional<ProcStat> proc = ReadProcStat(std::to_string(named->pid));
  if (!proc || !(proc->identity == *named) || proc->state == 'Z' || proc->state == 'X') return true;
  if (killed && *killed == *named) return true;
  struct stat beat;
  const bool stopped = proc->state == 'T' || proc->state == 't';
  // One waiting for a processor is busy, not frozen, however late its heartbeat.
  const bool stale = proc->state != 'R' && stat(kServiceName, &beat) == 0 &&
                     RealMs(beat.st_mtim) + kServiceFrozenMs < RealNowMs();
  if (!stopped && !stale) return false;
  kill(pid_t(named->pid), SIGKILL);
  killed = named;
  return true;
}

}  // namespace

Spool::Spool(OpenedSpool opened)
    : meeting_(std::move(opened.meeting)), folder_(std::move(opened.spool)), name_(std::move(opened.name)) {}

bool Spool::Claim() {
  if (!folder_ || meeting_.Empty()) return false;
  struct stat info;
  const bool ours = fstat(folder_.Get(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
                    (info.st_mode & 07777) == 0700 && fchdir(folder_.Get()) == 0;
  if (!ours) return false;
  info_ = info;
  const int64_t until = NowMs() + kLockWaitMs;
  std::optional<ProcessIdentity> killed;
  for (;;) {
    lock_.Reset(open(kLockName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock_) return false;
    struct stat held, named;
    // The lock counts only while its file is still the folder's (an ending service removes it).
    if (flock(lock_.Get(), LOCK_EX | LOCK_NB) == 0 && fstat(lock_.Get(), &held) == 0 && stat(kLockName, &named) == 0 &&
        held.st_ino == named.st_ino)
      break;
    lock_.Reset();
    if (!EndFrozen(killed) || NowMs() > until) return false;
    usleep(10000);
  }
  // Jobs a killed service had taken: their hosts have failed them already.
  ForEachFile([](const std::string& name) {
    if (!EndsWith(name, kTakenSuffix)) return;
    const std::string id = name.substr(0, name.size() - strlen(kTakenSuffix));
    for (const char* suffix : {kTakenSuffix, kPictureSuffix, kStatusSuffix, kAliveSuffix})
      unlink((id + suffix).c_str());
  });
  RemoveLeftovers(meeting_.Last(), info_);
  scratch_ = std::make_unique<ScratchFolder>(meeting_.Last());
  if (!*scratch_) return false;
  // The engine inherits these, and the driver reads TMPDIR for what it sets aside for the engine.
  const std::string scratch = scratch_->Path();
  for (const auto& [name, value] : {std::pair<const char*, std::string>{"HOME", scratch + "/home"},
                                    {"TMPDIR", scratch + "/tmp"},
                                    {"XDG_CONFIG_HOME", scratch + "/home/.config"},
                                    {"XDG_CACHE_HOME", scratch + "/home/.cache"}})
    if (setenv(name, value.c_str(), 1) != 0) return false;
  // Jobs arrive by a rename; the hosts' signs of life, written all the time, wake nobody.
  inotify_.Reset(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (!inotify_ || inotify_add_watch(inotify_.Get(), ".", IN_MOVED_TO) < 0) return false;
  return Announce();
}

bool Spool::Moved() {
  const int64_t now = NowMs();
  if (moved_ || now - lastLook_ < kLookMs) return moved_;
  lastLook_ = now;
  moved_ = !meeting_.InPlace() || !StillThere(meeting_.Last(), name_, info_);
  return moved_;
}

void Spool::Leave() {
  for (const std::string& name : {std::string(kServiceName), std::string(kServiceName) + ".part", std::string(kLockName)})
    unlinkat(folder_.Get(), name.c_str(), 0);
}

void Spool::Beat() {
  const int64_t now = NowMs();
  if (now - lastBeat_ < kBeatMs) return;
  lastBeat_ = now;
  utimensat(AT_FDCWD, kServiceName, nullptr, 0);
}

void Spool::Drain() {
  char events[4096];
  while (read(inotify_.Get(), events, sizeof events) > 0) {
  }
}

bool Spool::Announce() {
  lastBeat_ = NowMs();
  const std::optional<ProcStat> self = ReadProcStat("self");
  return self &&
         WriteWhole(kServiceName, std::to_string(self->identity.pid) + " " + std::to_string(self->identity.start));
}

// The end is one step, removing the emptied folder, which fails when a page (or its host's sign of
// life, which comes first) arrived meanwhile: a page is either taken here or finds no folder and goes
// to a new service. Nothing of ours stays.
bool Spool::End() {
  RemoveLeftovers(meeting_.Last(), info_);
  const int64_t now = RealNowMs();
  ForEachFile([this, now](const std::string& name) {
    struct stat info;
    if (name == "." || name == ".." || EndsWith(name, kJobSuffix) || lstat(name.c_str(), &info) != 0) return;
    // A host collecting its answer, or handing in a page, keeps its files.
    if (!S_ISDIR(info.st_mode) && name != kServiceName && name != kLockName &&
        name != kServiceName + std::string(".part") && RealMs(info.st_mtim) + kLeftOverMs > now)
      return;
    RemoveTree(folder_.Get(), name);  // a link goes, never what it leads to
  });
  // Only the folder the service checked, should its name have come to hold another.
  if (!Moved() && StillThere(meeting_.Last(), name_, info_) && unlinkat(meeting_.Last(), name_.c_str(), AT_REMOVEDIR) == 0)
    return true;
  // Not empty: serve on, under a lock of the folder's again (another service may have taken it).
  lock_.Reset(open(kLockName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock_ || flock(lock_.Get(), LOCK_EX | LOCK_NB) != 0) return true;
  Announce();
  // The events of its own files are no page.
  Drain();
  return false;
}

}  // namespace wine_extractor
