// The page service's spool: the names in its private folder, and one page to render as the
// extractor writes it and the service reads it (JSON, so any Linux name fits). Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace wine_extractor {

// In the spool folder: the running service's "PID START" (its Linux identity), the lock it holds,
// its report of where each job stands (`queue`, queue_report.h), and per job ID: ID.job (waiting),
// ID.run (taken), ID.alive (the host's sign of life, put back by the waiting extractor whenever the
// service takes it away), ID.png and last ID.status.
inline constexpr char kServiceName[] = "service";
inline constexpr char kLockName[] = "lock";
inline constexpr char kJobSuffix[] = ".job";
inline constexpr char kTakenSuffix[] = ".run";
inline constexpr char kAliveSuffix[] = ".alive";
inline constexpr char kPictureSuffix[] = ".png";
inline constexpr char kStatusSuffix[] = ".status";
// The service touches its `service` file and rewrites its queue report (queue_report.h) every few
// hundred milliseconds while it makes progress. One that has shown no sign for this long, and is not
// even waiting for a processor, is frozen, for the extractor and for a service that would replace it:
// generous, since a busy machine only delays a sign, and a service stopped or gone is found at once.
inline constexpr int64_t kServiceFrozenMs = 30000;
// A job's ID: its host process's random token and the count of that host's jobs, in lower-case hex;
// the service answers a host's jobs in the order of their counts.
inline constexpr size_t kHostTokenChars = 24;
inline constexpr size_t kSequenceChars = 16;

struct PageJob {
  std::string page;  // Unix path
  int32_t width = 0;
  int32_t height = 0;
  uint32_t timeLimitMs = 0;
  uint32_t memoryLimitMb = 0;
  bool strictFolder = false;  // every request under the page's folder (ZELNAR_BROWSER_STRICT_FOLDER)
};

std::string FormatJob(const PageJob& job);
// The driver reads it back with ParseJob (page_driver/job_reader.h).

}  // namespace wine_extractor
