// Where each job the page service holds stands, as the service says it in the file `queue` of its
// spool and the waiting extractors read it: the service's identity and a count that grows with every
// rewrite on the first line ("PID START BEAT"), then one line per job ("ID waiting AHEAD", "ID drawing",
// "ID answered"). The service rewrites it whole (under another name, then renamed) whenever a job
// comes, is taken or is answered, and with every heartbeat while it holds a job; a service that holds
// none keeps no report. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wine_extractor/protocol/proc_stat.h"

namespace wine_extractor {

inline constexpr char kQueueName[] = "queue";
// No report is longer; jobs beyond what fits are left out (their hosts wait on as for a job not yet seen).
inline constexpr size_t kMaxQueueBytes = 65536;

enum class JobStage { kWaiting, kDrawing, kAnswered };

struct JobPlace {
  std::string id;
  JobStage stage = JobStage::kWaiting;
  uint32_t ahead = 0;  // waiting: how many jobs are taken before it
};

struct QueueReport {
  ProcessIdentity service;  // who wrote it: a report left by a service before is no word of this one's
  uint64_t beat = 0;
  std::vector<JobPlace> jobs;

  const JobPlace* Find(const std::string& id) const;
};

// The file's text, within kMaxQueueBytes; a job whose name could break its line is left out.
std::string FormatQueue(const QueueReport& report);
// Reads it back; none when the first line does not name its writer. Lines it does not know, and a
// last line without its end, are passed over.
std::optional<QueueReport> ParseQueue(const std::string& text);

}  // namespace wine_extractor
