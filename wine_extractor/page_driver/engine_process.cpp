#include "wine_extractor/page_driver/engine_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "wine_extractor/page_driver/proc_files.h"
#include "wine_extractor/page_driver/stop.h"

namespace wine_extractor {

std::string EngineLogPath() {
  const char* temp = std::getenv("TMPDIR");
  return temp && *temp ? std::string(temp) + "/zelnar-engine.log" : std::string();
}

std::string EngineLogTail(size_t bytes) {
  const std::string path = EngineLogPath();
  UniqueFd fd(path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return "";
  const off_t size = lseek(fd.Get(), 0, SEEK_END);
  std::string tail(size > 0 ? std::min<size_t>(size_t(size), bytes) : 0, '\0');
  const ssize_t n = tail.empty() ? 0 : pread(fd.Get(), &tail[0], tail.size(), size - off_t(tail.size()));
  tail.resize(n > 0 ? size_t(n) : 0);
  while (!tail.empty() && tail.back() == '\n') tail.pop_back();
  return tail;
}

EngineProcess::EngineProcess(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& log) {
  int commands[2], events[2];
  if (pipe2(commands, O_CLOEXEC) != 0) throw Stop{kDriverEngine, "no pipe for the engine"};
  UniqueFd commandsIn(commands[0]), commandsOut(commands[1]);
  if (pipe2(events, O_CLOEXEC) != 0) throw Stop{kDriverEngine, "no pipe for the engine"};
  UniqueFd eventsIn(events[0]), eventsOut(events[1]);
  // Everything the child needs is made before it is forked: it only calls what is safe there.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw Stop{kDriverEngine, "cannot start the engine"};
  if (pid_ == 0) {
    setpgid(0, 0);
    // A killed service leaves no engine behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // The engine reads commands on descriptor 3 and writes answers on 4.
    const int in = fcntl(commandsIn.Get(), F_DUPFD, 10);
    const int out = fcntl(eventsOut.Get(), F_DUPFD, 10);
    if (in < 0 || out < 0 || dup2(in, 3) != 3 || dup2(out, 4) != 4) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    const int messages = log.empty() ? -1 : open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
    dup2(null, 0);
    dup2(null, 1);
    dup2(messages >= 0 ? messages : null, 2);
    // The engine gets its pipe and nothing else of ours, however many descriptors we hold.
    if (close_range(5, ~0U, 0) != 0)
      for (int fd = 5; fd < 1024; ++fd) close(fd);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid_, pid_);  // either side may come first
  StartReaper();
  to_ = std::move(commandsOut);
  from_ = std::move(eventsIn);
}

EngineProcess::~EngineProcess() {
  to_.Reset();
  from_.Reset();
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  int status;
  waitpid(pid_, &status, 0);
  if (reaper_ > 0) waitpid(reaper_, &status, 0);
}

// The engine's program may be a wrapper that starts the engine as its child, which no death signal
// of ours reaches: a small process in the engine's group ends the whole group when we die.
void EngineProcess::StartReaper() {
  sigset_t wanted, old;
  sigemptyset(&wanted);
  sigaddset(&wanted, SIGUSR1);
  sigprocmask(SIG_BLOCK, &wanted, &old);
  const pid_t parent = getpid();
  reaper_ = fork();
  if (reaper_ == 0) {
    // It holds nothing of ours, the service's lock least.
    if (close_range(3, ~0U, 0) != 0)
      for (int fd = 3; fd < 1024; ++fd) close(fd);
    setpgid(0, pid_);
    prctl(PR_SET_PDEATHSIG, SIGUSR1);
    if (getppid() == parent) {
      int signal = 0;
      sigwait(&wanted, &signal);
    }
    kill(-pid_, SIGKILL);
    _exit(0);
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (reaper_ > 0) setpgid(reaper_, pid_);
}

namespace {

// A helper of the engine names its kind on its command line; the browser and a launcher do not.
bool IsHelper(uint32_t pid) { return CommandLine(pid).find("--type=") != std::string::npos; }

}  // namespace

// Down the line of children from the program started, as long as a child is no helper: a launcher
// script's child is the browser; a browser started directly has only helpers below it.
void EngineProcess::FindBrowser() {
  if (settled_) return;
  const std::vector<ProcStat> group = GroupProcesses(pid_);
  std::optional<ProcStat> at = ReadProcStat(std::to_string(pid_));
  if (!at) return;
  for (bool deeper = true; deeper;) {
    deeper = false;
    for (const ProcStat& process : group) {
      if (process.parent != at->identity.pid || int64_t(process.identity.pid) == reaper_) continue;
      if (IsHelper(process.identity.pid)) {
        settled_ = true;
        continue;
      }
      at = process;
      deeper = true;
      break;
    }
  }
  browser_ = at->identity;
}

EngineProcess::State EngineProcess::Now() {
  siginfo_t info{};
  // WNOWAIT: the process stays for the destructor to reap, so its id cannot be reused meanwhile.
  if (waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_) return State::kGone;
  FindBrowser();
  if (browser_.pid == 0) return State::kRunning;  // not yet looked at: the program is running
  const std::optional<ProcStat> stat = ReadProcStat(std::to_string(browser_.pid));
  // Another process by that number is not the browser: it ended.
  if (!stat || !(stat->identity == browser_) || stat->state == 'Z' || stat->state == 'X') return State::kGone;
  return stat->state == 'T' || stat->state == 't' ? State::kStopped : State::kRunning;
}

EngineProcess::Activity EngineProcess::Doing() const {
  const std::optional<ProcStat> stat = ReadProcStat(std::to_string(browser_.pid ? browser_.pid : uint32_t(pid_)));
  if (!stat) return {};
  return {stat->state == 'R', stat->cpuTicks};
}

std::vector<ProcStat> EngineProcess::Processes() const { return GroupProcesses(pid_); }

uint64_t EngineProcess::ResidentBytes() const { return GroupResidentBytes(pid_); }

std::optional<std::pair<uint32_t, uint64_t>> EngineProcess::LargestHelper() const {
  return LargestInGroup(pid_, {uint32_t(pid_), browser_.pid, uint32_t(reaper_)});
}

}  // namespace wine_extractor
