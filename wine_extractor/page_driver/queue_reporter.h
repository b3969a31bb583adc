// The service's report of where each job it holds stands (protocol/queue_report.h), in its spool:
// what a waiting host reads to know its page waits, is drawn or is answered, and that the service
// moves on. Linux only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/job_queue.h"
#include "wine_extractor/protocol/proc_stat.h"

namespace wine_extractor {

class QueueReporter {
 public:
  // Rewrites the report when where a job stands changed, and every few hundred milliseconds while
  // the service holds a job (its heartbeat for the hosts); removes it when it holds none. `drawing`
  // are the pages being drawn.
  void Publish(JobQueue& queue, const std::vector<std::string>& drawing, int64_t now);
  // Takes the report away, as the emptied folder is about to go; the next Publish writes it again.
  void Withdraw();

 private:
  std::optional<ProcessIdentity> self_;
  std::string last_;  // the jobs' lines last written
  uint64_t beat_ = 0;
  int64_t written_ = 0;
};

}  // namespace wine_extractor
