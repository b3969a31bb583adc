#include "wine_extractor/page_driver/queue_reporter.h"

#include <unistd.h>

#include "wine_extractor/page_driver/proc_files.h"
#include "wine_extractor/page_driver/spool_files.h"
#include "wine_extractor/protocol/queue_report.h"

namespace wine_extractor {
namespace {

// As often as the `service` file's heartbeat.
constexpr int64_t kBeatMs = 200;

}  // namespace

void QueueReporter::Publish(JobQueue& queue, const std::vector<std::string>& drawing, int64_t now) {
  QueueReport report;
  uint32_t ahead = 0;
  for (const std::string& id : queue.Waiting()) report.jobs.push_back(JobPlace{id, JobStage::kWaiting, ahead++});
  for (const std::string& id : drawing) report.jobs.push_back(JobPlace{id, JobStage::kDrawing});
  for (const std::string& id : queue.Answered()) report.jobs.push_back(JobPlace{id, JobStage::kAnswered});
  std::string lines = FormatQueue(report);
  if (lines == last_ && (report.jobs.empty() || now - written_ < kBeatMs)) return;
  // An idle service holds nothing to report on (its spool holds only its own two files), and a file
  // it rewrites would only wake it.
  if (report.jobs.empty()) {
    unlink(kQueueName);
    last_ = std::move(lines);
    written_ = now;
    return;
  }
  if (!self_) {
    const std::optional<ProcStat> self = ReadProcStat("self");
    if (!self) return;
    self_ = self->identity;
  }
  report.service = *self_;
  report.beat = ++beat_;
  if (!WriteWhole(kQueueName, FormatQueue(report))) return;
  last_ = std::move(lines);
  written_ = now;
}

void QueueReporter::Withdraw() {
  unlink(kQueueName);
  last_ = "\n";
}

}  // namespace wine_extractor
