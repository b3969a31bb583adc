#include "wine_extractor/page_driver/memory_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "wine_extractor/page_driver/proc_files.h"

namespace wine_extractor {

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

uint64_t LargestRendererBytes(const EngineProcess& engine) {
  static const uint64_t pageSize = uint64_t(sysconf(_SC_PAGESIZE));
  uint64_t largest = 0;
  for (const ProcStat& process : engine.Processes())
    if (process.residentPages * pageSize > largest && IsRenderer(CommandLine(process.identity.pid)))
      largest = process.residentPages * pageSize;
  return largest;
}

MemoryVerdict WatchMemory(const EngineProcess& engine, uint64_t ceiling) {
  const uint64_t resident = engine.ResidentBytes();
  if (resident <= ceiling) return {};
  const std::optional<std::pair<uint32_t, uint64_t>> largest = engine.LargestHelper();
  if (largest && resident - largest->second <= ceiling && IsRenderer(CommandLine(largest->first))) {
    kill(pid_t(largest->first), SIGKILL);
    return {MemoryVerdict::What::kRendererEnded, "its renderer held " + std::to_string(largest->second >> 20) +
                                                     " MB of the engine's " + std::to_string(resident >> 20) +
                                                     " MB, over the ceiling"};
  }
  return {MemoryVerdict::What::kEngineOver,
          "the engine holds " + std::to_string(resident >> 20) + " MB, over its ceiling"};
}

}  // namespace wine_extractor
