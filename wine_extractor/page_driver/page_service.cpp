#include "wine_extractor/page_driver/page_service.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <tuple>
#include <optional>

#include "wine_extractor/page_driver/devtools.h"
#include "wine_extractor/page_driver/job_reader.h"
#include "wine_extractor/page_driver/proc_files.h"

namespace wine_extractor {
namespace {

// A host that has not put its sign of life back for this long is gone.
constexpr int64_t kHostGoneMs = 1000;
// How long a starting service waits for one that is ending to let go of the folder.
constexpr int64_t kLockWaitMs = 5000;
// How long an engine may take to start and make a context while no page waits.
constexpr int64_t kPrepareMs = 20000;
// How often the service shows it makes progress (the `service` file's time; kServiceFrozenMs without
// a sign, it counts as frozen).
constexpr int64_t kBeatMs = 200;
// Files of pages whose host has not come for them in this long are left over from a host that died.
constexpr int64_t kLeftOverMs = 10000;
// A page whose renderer crashes this soon after the memory watch ended the largest one is that page.
constexpr int64_t kVictimMs = 2000;

std::optional<std::string> ReadWhole(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 && text.size() < (1 << 20)) text.append(buffer, size_t(n));
  close(fd);
  if (n < 0) return std::nullopt;
  return text;
}

// Written whole under another name first, so a reader never sees half of it.
bool WriteWhole(const std::string& path, const std::string& bytes) {
  const std::string part = path + ".part";
  const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  const bool ok = close(fd) == 0 && done == bytes.size() && rename(part.c_str(), path.c_str()) == 0;
  if (!ok) unlink(part.c_str());
  return ok;
}

std::optional<ProcessIdentity> Identity(const std::string& pid) {
  const std::optional<ProcStat> stat = ReadProcStat(pid);
  if (!stat || stat->state == 'Z' || stat->state == 'X') return std::nullopt;
  return stat->identity;
}

// The engine's helpers give themselves titles: their arguments joined by spaces, or by NULs as given.
bool IsRenderer(const std::string& command) {
  static const std::string kType = "--type=renderer";
  for (size_t at = command.find(kType); at != std::string::npos; at = command.find(kType, at + 1)) {
    const size_t end = at + kType.size();
    if (at > 0 && (command[at - 1] == ' ' || command[at - 1] == '\0') &&
        (end == command.size() || command[end] == ' ' || command[end] == '\0'))
      return true;
  }
  return false;
}

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = strlen(suffix);
  return text.size() > n && text.compare(text.size() - n, n, suffix) == 0;
}

class Service {
 public:
  Service(std::string spool, std::string program, std::vector<std::string> arguments, uint32_t idleMs,
          uint32_t parallel)
      : spool_(std::move(spool)),
        program_(std::move(program)),
        arguments_(std::move(arguments)),
        idleMs_(idleMs),
        parallel_(parallel) {}

  ~Service() {
    DropEngine();
    if (lock_ >= 0) close(lock_);
    if (inotify_ >= 0) close(inotify_);
  }

  // The folder is ours alone (this account's, private, not a link), it is where the service works
  // from now on, whatever its name comes to hold, and no other service serves it. False: leave it to
  // the other one. A frozen service holding it is ended.
  bool Claim() {
    const int folder = open(spool_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return false;
    struct stat info;
    const bool ours = fstat(folder, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
                      (info.st_mode & 07777) == 0700 && fchdir(folder) == 0;
    close(folder);
    if (!ours) return false;
    folder_ = info;
    const int64_t until = NowMs() + kLockWaitMs;
    std::optional<ProcessIdentity> killed;
    for (;;) {
      lock_ = open(kLockName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (lock_ < 0) return false;
      struct stat held, named;
      // The lock counts only while its file is still the folder's (an ending service removes it).
      if (flock(lock_, LOCK_EX | LOCK_NB) == 0 && fstat(lock_, &held) == 0 && stat(kLockName, &named) == 0 &&
          held.st_ino == named.st_ino)
        break;
      close(lock_);
      lock_ = -1;
      if (!EndFrozen(killed) || NowMs() > until) return false;
      usleep(10000);
    }
    // Jobs a killed service had taken: their hosts have failed them already.
    ForEachFile([](const std::string& name) {
      if (EndsWith(name, kTakenSuffix)) {
        const std::string id = name.substr(0, name.size() - strlen(kTakenSuffix));
        for (const char* suffix : {kTakenSuffix, kPictureSuffix, kStatusSuffix, kAliveSuffix})
          unlink(File(id + suffix).c_str());
      }
    });
    inotify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotify_ < 0 || inotify_add_watch(inotify_, ".", IN_MOVED_TO | IN_CLOSE_WRITE) < 0) return false;
    return Announce();
  }

  int Serve() {
    int64_t lastWork = NowMs();
    bool spareTried = false;
    for (;;) {
      bool took = false;
      while (slots_.size() < parallel_) {
        const std::optional<std::string> id = NextJob();
        if (!id) break;
        Take(*id);
        took = true;
      }
      if (took || !slots_.empty()) {
        if (!slots_.empty()) Drive();
        lastWork = NowMs();
        spareTried = false;
        continue;
      }
      // The next page's context is made while nothing waits, so a page finds it ready; not by a
      // service that ends as soon as nothing waits.
      if (!spare_ && !spareTried && idleMs_ > 0) {
        spareTried = true;
        try {
          // An engine that hangs while nothing waits is given up, not waited for.
          const int64_t deadline = NowMs() + kPrepareMs;
          auto watch = [this, deadline] {
            Beat();
            if (NowMs() > deadline) throw Stop{kDriverTimedOut, "the engine hung while no page waited"};
          };
          StartEngine(watch);
          PrepareSpare();
          engine_->SetWatch(nullptr);
        } catch (const Stop&) {
          DropEngine();
        }
        continue;
      }
      const int64_t idle = NowMs() - lastWork;
      if (idle >= int64_t(idleMs_)) {
        if (End()) return 0;
        lastWork = NowMs();
        // Files of a host that is about to collect its answer keep the folder: look again shortly.
        if (!NextJob()) Wait(100);
        continue;
      }
      Wait(int(std::min<int64_t>(int64_t(idleMs_) - idle, 1000)));
    }
  }

 private:
  // Names in the folder the service moved into.
  static std::string File(const std::string& name) { return name; }

  // While another service holds the lock: false when it lives and makes progress. One that is gone
  // lets go of the lock by itself; one that is stopped, or shows no sign of progress, is killed. Only
  // this account's processes can hold a lock in the folder. One killed here is waited for: until it
  // is gone it no longer looks stopped, and may look as if it lived on.
  static bool EndFrozen(std::optional<ProcessIdentity>& killed) {
    const std::optional<std::string> text = ReadWhole(kServiceName);
    const std::optional<ProcessIdentity> named = text ? ParseIdentity(*text) : std::nullopt;
    if (!named) return true;
    const std::optional<ProcStat> proc = ReadProcStat(std::to_string(named->pid));
    if (!proc || !(proc->identity == *named) || proc->state == 'Z' || proc->state == 'X') return true;
    if (killed && *killed == *named) return true;
    struct stat beat;
    const bool stopped = proc->state == 'T' || proc->state == 't';
    const bool stale = stat(kServiceName, &beat) == 0 && NowRealMs(beat.st_mtim) + kServiceFrozenMs < NowRealMs();
    if (!stopped && !stale) return false;
    kill(pid_t(named->pid), SIGKILL);
    killed = named;
    return true;
  }

  // Touches the `service` file now and then: the sign that this service makes progress.
  void Beat() {
    const int64_t now = NowMs();
    if (now - lastBeat_ < kBeatMs) return;
    lastBeat_ = now;
    utimensat(AT_FDCWD, kServiceName, nullptr, 0);
  }

  bool Announce() {
    lastBeat_ = NowMs();
    const std::optional<ProcessIdentity> self = Identity("self");
    return self && WriteWhole(File(kServiceName), std::to_string(self->pid) + " " + std::to_string(self->start));
  }

  template <typename Fn>
  void ForEachFile(Fn fn) {
    DIR* dir = opendir(".");
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) fn(std::string(entry->d_name));
    closedir(dir);
  }

  // The host of a job and its place among that host's jobs: the extractor names a job by its
  // process's random token and a count (page_service.cpp); any other name is a host of its own.
  static std::pair<std::string, uint64_t> HostOf(const std::string& id) {
    if (id.size() != kHostTokenChars + kSequenceChars || id.find_first_not_of("0123456789abcdef") != std::string::npos)
      return {id, 0};
    return {id.substr(0, kHostTokenChars), std::stoull(id.substr(kHostTokenChars), nullptr, 16)};
  }

  // The job waiting longest among the first waiting job of each host: a host's jobs are taken in the
  // order it made them.
  std::optional<std::string> NextJob() {
    struct Waiting {
      std::string id;
      uint64_t sequence;
      timespec time;
    };
    std::map<std::string, Waiting> first;  // by host
    ForEachFile([&](const std::string& name) {
      if (!EndsWith(name, kJobSuffix)) return;
      struct stat info;
      if (stat(File(name).c_str(), &info) != 0) return;
      const std::string id = name.substr(0, name.size() - strlen(kJobSuffix));
      const auto [host, sequence] = HostOf(id);
      auto at = first.find(host);
      if (at == first.end() || sequence < at->second.sequence) first[host] = Waiting{id, sequence, info.st_mtim};
    });
    std::optional<std::string> oldest;
    timespec oldestTime{};
    for (const auto& [host, job] : first) {
      if (!oldest || job.time.tv_sec < oldestTime.tv_sec ||
          (job.time.tv_sec == oldestTime.tv_sec && job.time.tv_nsec < oldestTime.tv_nsec)) {
        oldest = job.id;
        oldestTime = job.time;
      }
    }
    return oldest;
  }

  // One page being drawn, beside others, in a context of its own.
  struct Slot {
    std::string id, host;
    uint64_t sequence = 0;
    PageJob job;
    PageScope scope;
    std::unique_ptr<PageRun> run;
    int64_t deadline = 0, hostSeen = 0;
    bool reused = false, again = false, drawing = false, capturing = false;
    std::optional<Stop> outcome;  // set once the page is done with
  };

  void Take(const std::string& id) {
    const std::string taken = File(id + kTakenSuffix);
    if (rename(File(id + kJobSuffix).c_str(), taken.c_str()) != 0) return;
    const std::optional<std::string> text = ReadWhole(taken);
    const std::optional<PageJob> job = text ? ParseJob(*text) : std::nullopt;
    auto slot = std::make_unique<Slot>();
    slot->id = id;
    std::tie(slot->host, slot->sequence) = HostOf(id);
    std::optional<PageScope> scope = job ? ScopeOfPage(job->page, RealPath) : std::nullopt;
    if (!job || !scope) {
      Answer(*slot, job ? Stop{kDriverRefused, ""} : Stop{kDriverUsage, "the service cannot read the page's job"});
      return;
    }
    slot->job = *job;
    slot->scope = *scope;
    slot->scope.strict = job->strictFolder;
    slot->deadline = NowMs() + job->timeLimitMs;
    slot->hostSeen = NowMs();
    Start(std::move(slot));
  }

  // Gives the page a context (the spare one when there is one) of the running engine, or of a new one.
  void Start(std::unique_ptr<Slot> slot) {
    Slot& page = *slot;
    slots_.push_back(std::move(slot));
    try {
      page.reused = engine_ != nullptr;
      StartEngine([this] { Tick(); });
      if (spare_) {
        page.run = std::move(spare_);
      } else {
        page.run = std::make_unique<PageRun>(*connection_);
        page.run->StartOpen();
      }
      Advance(page);
      OpenSpare();
    } catch (Stop& stop) {
      EngineFailed(stop);
    }
  }

  // While pages are drawn: hands the engine's messages to them, watches them, and returns when one
  // is done, when a job came for a free slot, or after a while.
  void Drive() {
    try {
      for (const int64_t until = NowMs() + kSampleMs; NowMs() < until;) {
        if (engine_->Readable(0)) {
          Dispatch(connection_->Next());
        } else {
          pollfd ready[2] = {{engine_->Descriptor(), POLLIN, 0}, {inotify_, POLLIN, 0}};
          const bool free = slots_.size() < parallel_;
          if (poll(ready, free ? 2 : 1, int(std::max<int64_t>(0, std::min(until, nextTick_) - NowMs()))) > 0 &&
              free && (ready[1].revents & POLLIN)) {
            char events[4096];
            while (read(inotify_, events, sizeof events) > 0) {
            }
            Tick();
            Settle();
            return;
          }
        }
        Tick();
        if (Settle()) return;
      }
    } catch (Stop& stop) {
      EngineFailed(stop);
    } catch (const std::exception& failure) {
      // Anything else (no memory for a message, say) fails the pages: they get a new engine, and the
      // service lives on.
      Stop stop{kDriverEngine, std::string("the driver failed: ") + failure.what()};
      EngineFailed(stop);
    }
  }

  // A message of the engine, to whichever page it concerns. A page's own failure ends that page
  // alone; an engine that is gone ends them all (the caller).
  void Dispatch(const JsonValue& message) {
    if (spare_) {
      try {
        spare_->Follow(message);
        spare_->Handle(message);
      } catch (const Stop&) {
        if (engine_->Ended()) throw;
        spare_.reset();
      }
    }
    for (const std::unique_ptr<Slot>& slot : slots_) {
      if (slot->outcome) continue;
      try {
        slot->run->Follow(message);
        slot->run->Handle(message);
        Advance(*slot);
      } catch (Stop& stop) {
        if (engine_->Ended()) throw;
        Fail(*slot, stop);
      }
    }
  }

  // The page's next step, once the engine answered the one before.
  void Advance(Slot& slot) {
    PageRun& run = *slot.run;
    if (slot.outcome || !run.Ready()) return;
    if (!slot.drawing) {
      slot.drawing = true;
      run.StartDraw(slot.job.page, slot.scope, slot.job.width, slot.job.height);
    } else if (run.NoLoad()) {
      slot.outcome = Stop{kDriverNoLoad, ""};
    } else if (!slot.capturing && run.Loaded()) {
      // However fast the page loaded, the engine is measured once before it may give a picture.
      nextTick_ = 0;
      Tick();
      if (slot.outcome) return;
      slot.capturing = true;
      run.StartCapture();
    } else if (run.Captured()) {
      slot.outcome = Stop{WriteWhole(File(slot.id + kPictureSuffix), run.Picture()) ? kDriverOk : kDriverWrite, ""};
      run.Picture().clear();
    }
  }

  void Fail(Slot& slot, const Stop& stop) {
    if (slot.outcome) return;
    slot.outcome = stop;
    // The renderer the memory watch ended: the page that grew over the ceiling.
    if (stop.code == kDriverEngine && victim_.at && NowMs() - victim_.at < kVictimMs)
      slot.outcome = Stop{kDriverMemory, victim_.why};
  }

  // Every kSampleMs while pages are drawn: each page's time limit and host, and the engine's memory.
  void Tick() {
    const int64_t now = NowMs();
    if (now < nextTick_) return;
    nextTick_ = now + kSampleMs;
    Beat();
    uint64_t ceiling = UINT64_MAX;
    for (const std::unique_ptr<Slot>& slot : slots_) {
      if (slot->outcome) continue;
      if (now > slot->deadline) {
        Fail(*slot, Stop{kDriverTimedOut, "the page took longer than its time limit"});
        continue;
      }
      // Taken away here, put back by the waiting host.
      if (unlink(File(slot->id + kAliveSuffix).c_str()) == 0) {
        slot->hostSeen = now;
      } else if (now - slot->hostSeen > kHostGoneMs) {
        Fail(*slot, Stop{kDriverHostGone, "the host stopped waiting"});
        continue;
      }
      ceiling = std::min(ceiling, uint64_t(slot->job.memoryLimitMb) << 20);
    }
    if (ceiling != UINT64_MAX) CheckMemory(ceiling);
  }

  // Over the ceiling, the page that grew fails, not the pages beside it: each page lives in a
  // renderer process of its own (contexts never share one), and the engine says no more of which
  // process draws which page. So when ending the largest renderer alone brings the engine back under
  // its ceiling, that renderer is ended, and the page it drew fails as its renderer crashes. Otherwise
  // the engine as a whole is over its ceiling, and every page fails with it.
  void CheckMemory(uint64_t ceiling) {
    const uint64_t resident = engine_->ResidentBytes();
    if (resident <= ceiling) return;
    const std::optional<std::pair<uint32_t, uint64_t>> largest = engine_->LargestHelper();
    const std::optional<std::string> command =
        largest ? ReadWhole("/proc/" + std::to_string(largest->first) + "/cmdline") : std::nullopt;
    if (command && IsRenderer(*command) && resident - largest->second <= ceiling) {
      kill(pid_t(largest->first), SIGKILL);
      victim_.at = NowMs();
      victim_.why = "its renderer held " + std::to_string(largest->second >> 20) + " MB of the engine's " +
                    std::to_string(resident >> 20) + " MB, over the ceiling";
      return;
    }
    throw Stop{kDriverMemory, "the engine holds " + std::to_string(resident >> 20) + " MB, over its ceiling"};
  }

  // Answers the pages that are done; true when one was.
  bool Settle() {
    bool settled = false;
    for (size_t i = 0; i < slots_.size();) {
      if (!slots_[i]->outcome) {
        ++i;
        continue;
      }
      std::unique_ptr<Slot> slot = std::move(slots_[i]);
      slots_.erase(slots_.begin() + ptrdiff_t(i));
      slot->run.reset();  // its context goes
      Answer(*slot, *slot->outcome);
      settled = true;
    }
    if (settled && engine_) {
      try {
        OpenSpare();
      } catch (Stop& stop) {
        EngineFailed(stop);
      }
    }
    return settled;
  }

  // The engine ended, broke the protocol or went over its ceiling: every page of it fails; the next
  // ones get a new engine. An engine that ended while nothing was drawn (killed, crashed) fails the
  // pages it meets first: those get a new engine once.
  void EngineFailed(Stop stop) {
    DropEngine();
    std::vector<std::unique_ptr<Slot>> pages = std::move(slots_);
    slots_.clear();
    if (stop.code == kDriverEngine) {
      // The end of what the engine said, on the answer's one line.
      std::string said = EngineLogTail(400);
      std::replace(said.begin(), said.end(), '\n', '|');
      if (!said.empty()) stop.why += "; the engine said: " + said;
    }
    std::vector<std::unique_ptr<Slot>> again;
    for (std::unique_ptr<Slot>& slot : pages) {
      if (slot->outcome) {
        Answer(*slot, *slot->outcome);
      } else if (stop.code == kDriverEngine && slot->reused && !slot->again) {
        slot->again = true;
        slot->reused = slot->drawing = slot->capturing = false;
        again.push_back(std::move(slot));
      } else {
        Answer(*slot, stop);
      }
    }
    for (std::unique_ptr<Slot>& slot : again) Start(std::move(slot));
  }

  // The status comes last: once it is there, nothing of the service's work on the page is left. A
  // host's answers come in the order of its jobs: one waits while an earlier job of its host is drawn.
  void Answer(const Slot& slot, const Stop& outcome) {
    unlink(File(slot.id + kTakenSuffix).c_str());
    held_.push_back(Held{slot.id, slot.host, slot.sequence, outcome});
    for (size_t i = 0; i < held_.size();) {
      const Held& answer = held_[i];
      const bool earlier = std::any_of(slots_.begin(), slots_.end(), [&](const std::unique_ptr<Slot>& other) {
        return other->host == answer.host && other->sequence < answer.sequence;
      });
      if (earlier) {
        ++i;
        continue;
      }
      std::string text = std::to_string(answer.outcome.code);
      if (!answer.outcome.why.empty()) text += " " + answer.outcome.why;
      if (answer.outcome.code == kDriverHostGone || !WriteWhole(File(answer.id + kStatusSuffix), text + "\n")) {
        for (const char* suffix : {kPictureSuffix, kStatusSuffix, kAliveSuffix}) unlink(File(answer.id + suffix).c_str());
      }
      held_.erase(held_.begin() + ptrdiff_t(i));
      i = 0;
    }
  }

  // A context made ahead, while fewer pages than slots are drawn.
  void OpenSpare() {
    if (spare_ || !engine_ || slots_.size() >= parallel_ || (idleMs_ == 0 && slots_.empty())) return;
    spare_ = std::make_unique<PageRun>(*connection_);
    spare_->StartOpen();
  }

  // Starts the engine unless it runs; either way `watch` watches it, from its first reply on: an
  // engine that never answers is given up like any other.
  void StartEngine(Watch watch = nullptr) {
    if (engine_) {
      engine_->SetWatch(std::move(watch));
      return;
    }
    engine_ = std::make_unique<Engine>(program_, arguments_, true, EngineLogPath());
    // Without a watch of its own, it still says that the service makes progress.
    engine_->SetWatch(watch ? std::move(watch) : Watch([this] { Beat(); }));
    connection_ = std::make_unique<Connection>(*engine_);
    connection_->Call("Target.setDiscoverTargets", "{\"discover\":true}", "", [](const JsonValue&) {});
  }

  void PrepareSpare() {
    if (!engine_) StartEngine();
    auto run = std::make_unique<PageRun>(*connection_);
    run->Open();
    spare_ = std::move(run);
  }

  void DropEngine() {
    if (connection_) connection_->Listen(nullptr);
    // Every context before the connection it speaks through.
    for (const std::unique_ptr<Slot>& slot : slots_) slot->run.reset();
    spare_.reset();
    connection_.reset();
    engine_.reset();
  }

  // Sleeps until a job may have come or `waitMs` pass; meanwhile notices an engine that ended.
  void Wait(int waitMs) {
    pollfd ready[1] = {{inotify_, POLLIN, 0}};
    const int64_t until = NowMs() + waitMs;
    while (NowMs() < until) {
      Beat();
      if (poll(ready, 1, int(std::min<int64_t>(until - NowMs(), 100))) > 0) {
        char events[4096];
        while (read(inotify_, events, sizeof events) > 0) {
        }
        return;
      }
      if (engine_) {
        try {
          while (engine_->Readable(0)) Dispatch(connection_->Next());
        } catch (const Stop&) {
          DropEngine();  // killed or crashed between pages: a new one for the next
          return;
        }
      }
    }
  }

  // Ends after the idle time. The end is one step, removing the emptied folder, which fails when a
  // page (or its host's sign of life, which comes first) arrived meanwhile: a page is either taken
  // here or finds no folder and goes to a new service. Nothing of ours stays.
  bool End() {
    if (NextJob()) return false;
    DropEngine();
    const int64_t now = NowRealMs();
    ForEachFile([now](const std::string& name) {
      struct stat info;
      if (name == "." || name == ".." || EndsWith(name, kJobSuffix) || lstat(name.c_str(), &info) != 0) return;
      // A host collecting its answer, or handing in a page, keeps its files.
      if (!S_ISDIR(info.st_mode) && name != kServiceName && name != kLockName && name != kServiceName + std::string(".part") &&
          NowRealMs(info.st_mtim) + kLeftOverMs > now)
        return;
      std::error_code ignored;
      std::filesystem::remove_all(name, ignored);  // a link goes, never what it leads to
    });
    struct stat named;
    // Only the folder the service checked, should its name have come to hold another.
    if (lstat(spool_.c_str(), &named) == 0 && named.st_ino == folder_.st_ino && named.st_dev == folder_.st_dev &&
        rmdir(spool_.c_str()) == 0)
      return true;
    // Not empty: serve on, under a lock of the folder's again (another service may have taken it).
    close(lock_);
    lock_ = open(kLockName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_ < 0 || flock(lock_, LOCK_EX | LOCK_NB) != 0) return true;
    Announce();
    // The events of its own files are no page: left in the queue, they would end the wait for one at
    // once, and the service would spin through its end until its folder empties.
    for (char events[4096]; read(inotify_, events, sizeof events) > 0;) {
    }
    return false;
  }

  static int64_t NowRealMs(const timespec& at) { return int64_t(at.tv_sec) * 1000 + at.tv_nsec / 1000000; }
  static int64_t NowRealMs() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return NowRealMs(now);
  }

  std::string spool_, program_;
  std::vector<std::string> arguments_;
  uint32_t idleMs_;
  int lock_ = -1, inotify_ = -1;
  int64_t lastBeat_ = 0;
  struct stat folder_ {};
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<Connection> connection_;
  std::unique_ptr<PageRun> spare_;
  uint32_t parallel_ = 1;
  std::vector<std::unique_ptr<Slot>> slots_;
  struct Held {
    std::string id, host;
    uint64_t sequence;
    Stop outcome;
  };
  std::vector<Held> held_;
  int64_t nextTick_ = 0;
  struct {
    int64_t at = 0;
    std::string why;
  } victim_;
};

}  // namespace

int RunService(const std::string& spool, const std::string& program, const std::vector<std::string>& arguments,
               uint32_t idleMs, uint32_t parallel) {
  Service service(spool, program, arguments, idleMs, parallel);
  if (!service.Claim()) return 0;
  return service.Serve();
}

}  // namespace wine_extractor
