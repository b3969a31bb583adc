// What /proc says of the processes of this machine, read by the driver.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "wine_extractor/protocol/proc_stat.h"

namespace wine_extractor {

// What /proc says of the process `pid` (a number, or "self"); none when it has no entry.
std::optional<ProcStat> ReadProcStat(const std::string& pid);

// The resident memory, in bytes, of every process in `group`.
uint64_t GroupResidentBytes(int64_t group);

// The largest process of `group` other than `except`, by resident memory: its id and bytes; none
// when there is no other.
std::optional<std::pair<uint32_t, uint64_t>> LargestInGroup(int64_t group, int64_t except);

}  // namespace wine_extractor
