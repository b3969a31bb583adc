// What Linux's /proc says about a process: who it is (its id and start time, so a reused id is not
// taken for it), its state, its process group and its resident memory. Portable parsing; the page
// driver reads the files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace browser {

struct ProcessIdentity {
  uint32_t pid = 0;
  uint64_t start = 0;  // when it started, in the units of its source (ticks after boot in /proc)
  bool operator==(const ProcessIdentity& other) const { return pid == other.pid && start == other.start; }
};

struct ProcStat {
  ProcessIdentity identity;
  char state = '?';        // Z and X: ended, only its entry is left
  int64_t group = 0;       // process group
  uint64_t residentPages = 0;
};

// One /proc/PID/stat line; none when it is not one. The name in parentheses may hold anything.
std::optional<ProcStat> ParseProcStat(const std::string& line);

// An owner as a call folder's name carries it, "PID START" with the dash made a space; none when
// the text is anything else.
std::optional<ProcessIdentity> ParseIdentity(const std::string& text);

#ifndef _WIN32
// What /proc says of the process `pid` (a number, or "self"); none when it has no entry.
std::optional<ProcStat> ReadProcStat(const std::string& pid);

// The resident memory, in bytes, of every process in `group`.
uint64_t GroupResidentBytes(int64_t group);

// The largest process of `group` other than `except`, by resident memory: its id and bytes; none
// when there is no other.
std::optional<std::pair<uint32_t, uint64_t>> LargestInGroup(int64_t group, int64_t except);
#endif

}  // namespace browser
