// What /proc says of the processes of this machine, read by the driver.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wine_extractor/protocol/proc_stat.h"

namespace wine_extractor {

// What /proc says of the process `pid` (a number, or "self"); none when it has no entry.
std::optional<ProcStat> ReadProcStat(const std::string& pid);

// Every process of `group`, as /proc says of it.
std::vector<ProcStat> GroupProcesses(int64_t group);

// The command line of `pid`, its arguments joined by NULs (or by spaces, as a process may title
// itself); empty when it has no entry.
std::string CommandLine(uint32_t pid);

// The resident memory, in bytes, of every process in `group`.
uint64_t GroupResidentBytes(int64_t group);

// The largest process of `group` but those in `except`, by resident memory: its id and bytes; none
// when there is no other.
std::optional<std::pair<uint32_t, uint64_t>> LargestInGroup(int64_t group, const std::vector<uint32_t>& except);

}  // namespace wine_extractor
