// What Linux's /proc says about a process: who it is (its id and start time, so a reused id is not
// taken for it), its state, parent and process group, the processor time it used and its resident
// memory. Parsing only; the page
// driver reads the files (page_driver/proc_files.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace wine_extractor {

struct ProcessIdentity {
  uint32_t pid = 0;
  uint64_t start = 0;  // when it started, in the units of its source (ticks after boot in /proc)
  bool operator==(const ProcessIdentity& other) const { return pid == other.pid && start == other.start; }
};

struct ProcStat {
  ProcessIdentity identity;
  char state = '?';        // Z and X: ended, only its entry is left; R: running or waiting for a processor
  uint32_t parent = 0;
  int64_t group = 0;       // process group
  uint64_t cpuTicks = 0;   // processor time used, user and system, in clock ticks
  uint64_t residentPages = 0;
};

// One /proc/PID/stat line; none when it is not one. The name in parentheses may hold anything.
std::optional<ProcStat> ParseProcStat(const std::string& line);

// A process as the page service's `service` file names it, "PID START"; none when the text is
// anything else.
std::optional<ProcessIdentity> ParseIdentity(const std::string& text);

}  // namespace wine_extractor
