// What /proc says of the processes of this machine, read by the driver.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "wine_extractor/protocol/proc_stat.h"

namespace wine_extractor {

// What /proc says of the process `pid` (a number, or "self"); none when it has no entry.
std::optional<ProcStat> ReadProcStat(const std::string& pid);

// The resident memory, in bytes, of every process in `group`.
uint64_t GroupResidentBytes(int64_t group);

}  // namespace wine_extractor
