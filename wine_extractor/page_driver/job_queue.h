// The jobs in the spool: the next one to take (each host's in the order it made them, the one
// waiting longest first), taking it, its host's sign of life, and its answer. Linux only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/scheduler.h"

namespace wine_extractor {

class JobQueue {
 public:
  // The id of the job to take next; none when none waits.
  std::optional<std::string> Next() const;
  // The ids of the jobs waiting, in the order they are taken if no other job comes.
  std::vector<std::string> Waiting() const;
  // The ids of the jobs answered whose status their hosts have not collected yet.
  std::vector<std::string> Answered();
  // Takes job `id` (it becomes ID.run): the page to draw, or none when it was answered at once (a job
  // that cannot be read, taken or resolved fails alone, and is never picked again).
  std::optional<PageOrder> Take(const std::string& id);
  // Whether the host of page `id` still waits: it puts back the sign of life taken away here.
  bool HostWaits(const std::string& id, int64_t now);
  // Writes the picture and, last, the status; nothing for a host that is gone.
  void Answer(const FinishedPage& page);

 private:
  void AnswerNow(const std::string& id, const Stop& outcome, const RefusalLog& refusals = {});

  std::map<std::string, int64_t> hostSeen_;  // by page id
  std::set<std::string> refused_;            // jobs that could not even be removed
  std::set<std::string> answered_;
};

// The host of a job and its place among that host's jobs: the extractor names a job by its process's
// random token and a count; any other name is a host of its own.
std::pair<std::string, uint64_t> HostOf(const std::string& id);

}  // namespace wine_extractor
