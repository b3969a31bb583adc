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
#include <memory>
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
// How often the service shows it makes progress (the `service` file's time), and after how long
// without a sign another service takes it for frozen (the extractor: com_server/service_client.cpp).
constexpr int64_t kBeatMs = 200;
constexpr int64_t kFrozenMs = 2500;
// Files of pages whose host has not come for them in this long are left over from a host that died.
constexpr int64_t kLeftOverMs = 10000;

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

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = strlen(suffix);
  return text.size() > n && text.compare(text.size() - n, n, suffix) == 0;
}

class Service {
 public:
  Service(std::string spool, std::string program, std::vector<std::string> arguments, uint32_t idleMs)
      : spool_(std::move(spool)), program_(std::move(program)), arguments_(std::move(arguments)), idleMs_(idleMs) {}

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
      if (std::optional<std::string> id = NextJob()) {
        Take(*id);
        lastWork = NowMs();
        spareTried = false;
        continue;
      }
      // The next page's context is made while nothing waits, so a page finds it ready.
      if (!spare_ && !spareTried) {
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
    const bool stale = stat(kServiceName, &beat) == 0 && NowRealMs(beat.st_mtim) + kFrozenMs < NowRealMs();
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

  // The job waiting longest.
  std::optional<std::string> NextJob() {
    std::optional<std::string> oldest;
    timespec oldestTime{};
    ForEachFile([&](const std::string& name) {
      if (!EndsWith(name, kJobSuffix)) return;
      struct stat info;
      if (stat(File(name).c_str(), &info) != 0) return;
      if (!oldest || info.st_mtim.tv_sec < oldestTime.tv_sec ||
          (info.st_mtim.tv_sec == oldestTime.tv_sec && info.st_mtim.tv_nsec < oldestTime.tv_nsec)) {
        oldest = name.substr(0, name.size() - strlen(kJobSuffix));
        oldestTime = info.st_mtim;
      }
    });
    return oldest;
  }

  void Take(const std::string& id) {
    const std::string taken = File(id + kTakenSuffix);
    if (rename(File(id + kJobSuffix).c_str(), taken.c_str()) != 0) return;
    const std::optional<std::string> text = ReadWhole(taken);
    const std::optional<PageJob> job = text ? ParseJob(*text) : std::nullopt;
    Stop outcome{kDriverUsage, "the service cannot read the page's job"};
    if (job) outcome = Render(id, *job);
    // The status comes last: once it is there, nothing of the service's work on the page is left.
    unlink(taken.c_str());
    std::string answer = std::to_string(outcome.code);
    if (!outcome.why.empty()) answer += " " + outcome.why;
    if (outcome.code == kDriverHostGone || !WriteWhole(File(id + kStatusSuffix), answer + "\n")) {
      for (const char* suffix : {kPictureSuffix, kStatusSuffix, kAliveSuffix}) unlink(File(id + suffix).c_str());
    }
  }

  // The page's status, and why it failed.
  Stop Render(const std::string& id, const PageJob& job, bool again = false) {
    std::optional<PageScope> scope = ScopeOfPage(job.page, RealPath);
    if (!scope) return Stop{kDriverRefused, ""};
    scope->strict = job.strictFolder;
    const bool reused = engine_ != nullptr;
    const std::string alive = File(id + kAliveSuffix);
    const int64_t deadline = NowMs() + job.timeLimitMs;
    const uint64_t ceiling = uint64_t(job.memoryLimitMb) << 20;
    int64_t hostSeen = NowMs();
    auto watch = [&] {
      Beat();
      const int64_t now = NowMs();
      if (now > deadline) throw Stop{kDriverTimedOut, "the page took longer than its time limit"};
      // Taken away here, put back by the waiting host.
      if (unlink(alive.c_str()) == 0)
        hostSeen = now;
      else if (now - hostSeen > kHostGoneMs)
        throw Stop{kDriverHostGone, "the host stopped waiting"};
      engine_->CheckMemory(ceiling);
    };
    try {
      StartEngine(watch);
      if (!spare_) PrepareSpare();
      while (!spare_->Ready()) connection_->Next();
      connection_->Listen(nullptr);
      std::unique_ptr<PageRun> run = std::move(spare_);
      Stop status{kDriverNoLoad, ""};
      if (run->Navigate(job.page, *scope, job.width, job.height)) {
        // The next page's context is made while this one loads and is drawn.
        spare_ = std::make_unique<PageRun>(*connection_);
        PageRun* next = spare_.get();
        connection_->Listen([next](const JsonValue& message) { next->Follow(message); });
        next->StartOpen();
        run->WaitLoaded();
        watch();
        status.code = WriteWhole(File(id + kPictureSuffix), run->Capture()) ? kDriverOk : kDriverWrite;
      }
      engine_->SetWatch(nullptr);
      return status;
    } catch (Stop& stop) {
      // Whatever the engine was doing is not to be trusted: the next page gets a new one.
      DropEngine();
      // An engine that ended while nothing was drawn (killed, crashed) fails the page it meets
      // first: that page gets a new engine once.
      if (stop.code == kDriverEngine && reused && !again) return Render(id, job, true);
      if (stop.code == kDriverEngine) {
        // The end of what the engine said, on the answer's one line.
        std::string said = EngineLogTail(400);
        std::replace(said.begin(), said.end(), '\n', '|');
        if (!said.empty()) stop.why += "; the engine said: " + said;
      }
      return stop;
    } catch (const std::exception& failure) {
      // Anything else (no memory for a message, say) fails this page alone: the next one gets a
      // new engine, and the service lives on.
      DropEngine();
      return Stop{kDriverEngine, std::string("the driver failed: ") + failure.what()};
    } catch (...) {
      DropEngine();
      return Stop{kDriverEngine, "the driver failed"};
    }
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
          while (engine_->Readable(0)) connection_->Next();
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
};

}  // namespace

int RunService(const std::string& spool, const std::string& program, const std::vector<std::string>& arguments,
               uint32_t idleMs) {
  Service service(spool, program, arguments, idleMs);
  if (!service.Claim()) return 0;
  return service.Serve();
}

}  // namespace wine_extractor
