// The browser engine as a process: started with its DevTools pipe in a process group of its own,
// watched (running, stopped, gone, busy), measured, and killed whole. The program started may be a
// launcher that runs the browser as its child: what is watched is the browser itself. Linux only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wine_extractor/page_driver/unique_fd.h"
#include "wine_extractor/protocol/proc_stat.h"

namespace wine_extractor {

// Where an engine started by this process writes its own messages: a file in the temporary folder
// (TMPDIR) that the service set aside for it; none without one.
std::string EngineLogPath();
// The last `bytes` of those messages; empty when there are none.
std::string EngineLogTail(size_t bytes);

class EngineProcess {
 public:
  // Starts `program` with `arguments`; its commands are read from the pipe behind ToEngine() and its
  // answers written to the one behind FromEngine(). Its processes die with this one. Raises Stop.
  EngineProcess(const std::string& program, const std::vector<std::string>& arguments, const std::string& log);
  // Kills every process of the engine and waits for the engine itself.
  ~EngineProcess();
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  // The pipe's ends, for whoever speaks the protocol; taken once.
  UniqueFd TakeToEngine() { return std::move(to_); }
  UniqueFd TakeFromEngine() { return std::move(from_); }

  enum class State { kRunning, kStopped, kGone };
  // The browser's state. Stopped: kill -STOP, or held by a debugger: it will not answer.
  State Now();
  // What the browser does: whether it runs or waits for a processor now, and the processor time it
  // has used (clock ticks). A process that runs or uses time is busy, however slowly it answers.
  struct Activity {
    bool runnable = false;
    uint64_t cpuTicks = 0;
  };
  Activity Doing() const;

  // Every process of the engine, as /proc says of it.
  std::vector<ProcStat> Processes() const;
  // The resident memory of the engine's processes (it reserves far more address space than it uses).
  uint64_t ResidentBytes() const;
  // The largest of its helper processes (neither the browser nor its launcher): its id and resident bytes.
  std::optional<std::pair<uint32_t, uint64_t>> LargestHelper() const;

 private:
  void StartReaper();
  void FindBrowser();

  pid_t pid_ = -1;
  pid_t reaper_ = -1;
  UniqueFd to_, from_;
  // The browser: the program started, or the child it runs; settled once the browser has helpers.
  ProcessIdentity browser_{};
  bool settled_ = false;
};

}  // namespace wine_extractor
