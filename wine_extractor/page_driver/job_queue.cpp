#include "wine_extractor/page_driver/job_queue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>

#include "wine_extractor/page_driver/clock.h"
#include "wine_extractor/page_driver/job_reader.h"
#include "wine_extractor/page_driver/spool_files.h"
#include "wine_extractor/protocol/page_status.h"

namespace wine_extractor {
namespace {

// A host that has not put its sign of life back for this long is gone.
constexpr int64_t kHostGoneMs = 1000;

}  // namespace

std::pair<std::string, uint64_t> HostOf(const std::string& id) {
  if (id.size() != kHostTokenChars + kSequenceChars || id.find_first_not_of("0123456789abcdef") != std::string::npos)
    return {id, 0};
  return {id.substr(0, kHostTokenChars), std::stoull(id.substr(kHostTokenChars), nullptr, 16)};
}

std::optional<std::string> JobQueue::Next() const {
  const std::vector<std::string> waiting = Waiting();
  if (waiting.empty()) return std::nullopt;
  return waiting.front();
}

std::vector<std::string> JobQueue::Waiting() const {
  struct Job {
    uint64_t sequence;
    timespec time;
    std::string id;
  };
  std::map<std::string, std::vector<Job>> byHost;
  ForEachFile([&](const std::string& name) {
    if (!EndsWith(name, kJobSuffix)) return;
    const std::string id = name.substr(0, name.size() - strlen(kJobSuffix));
    struct stat info;
    if (refused_.count(id) || stat(name.c_str(), &info) != 0) return;
    const auto [host, sequence] = HostOf(id);
    byHost[host].push_back(Job{sequence, info.st_mtim, id});
  });
  for (auto& [host, jobs] : byHost)
    std::sort(jobs.begin(), jobs.end(), [](const Job& a, const Job& b) { return a.sequence < b.sequence; });
  // Taken one by one: of each host's first job, the one waiting longest.
  std::vector<std::string> order;
  std::map<std::string, size_t> taken;
  for (;;) {
    const Job* oldest = nullptr;
    const std::string* from = nullptr;
    for (const auto& [host, jobs] : byHost) {
      const size_t at = taken[host];
      if (at == jobs.size()) continue;
      const Job& job = jobs[at];
      if (!oldest || job.time.tv_sec < oldest->time.tv_sec ||
          (job.time.tv_sec == oldest->time.tv_sec && job.time.tv_nsec < oldest->time.tv_nsec)) {
        oldest = &job;
        from = &host;
      }
    }
    if (!oldest) return order;
    order.push_back(oldest->id);
    ++taken[*from];
  }
}

std::vector<std::string> JobQueue::Answered() {
  for (auto at = answered_.begin(); at != answered_.end();) {
    struct stat info;
    // Collected by its host, or cleared away.
    at = stat((*at + kStatusSuffix).c_str(), &info) == 0 ? std::next(at) : answered_.erase(at);
  }
  return {answered_.begin(), answered_.end()};
}

std::optional<PageOrder> JobQueue::Take(const std::string& id) {
  const std::string job = id + kJobSuffix, taken = id + kTakenSuffix;
  if (rename(job.c_str(), taken.c_str()) != 0) {
    // Answered and moved aside: a job the service cannot take is never picked again.
    const std::string why = std::string("the service cannot take the page's job: ") + strerror(errno);
    std::error_code error;
    std::filesystem::remove_all(job, error);
    if (error || std::filesystem::symlink_status(job, error).type() != std::filesystem::file_type::not_found)
      refused_.insert(id);
    AnswerNow(id, Stop{kDriverEngine, why});
    return std::nullopt;
  }
  hostSeen_[id] = NowMs();
  const std::optional<std::string> text = ReadWhole(taken);
  const std::optional<PageJob> parsed = text ? ParseJob(*text) : std::nullopt;
  if (!parsed) {
    AnswerNow(id, Stop{kDriverUsage, "the service cannot read the page's job"});
    return std::nullopt;
  }
  if (!RealPath(parsed->page)) {
    AnswerNow(id, Stop{kDriverNoLoad, "the page cannot be found"});
    return std::nullopt;
  }
  std::optional<PageScope> scope = ScopeOfPage(parsed->page, RealPath);
  if (!scope) {
    AnswerNow(id, Stop{kDriverRefused, ""});
    return std::nullopt;
  }
  scope->strict = parsed->strictFolder;
  return PageOrder{id, *parsed, *scope, NowMs() + parsed->timeLimitMs};
}

bool JobQueue::HostWaits(const std::string& id, int64_t now) {
  int64_t& seen = hostSeen_[id];
  // Taken away here, put back by the waiting host.
  if (unlink((id + kAliveSuffix).c_str()) == 0) seen = now;
  return now - seen <= kHostGoneMs;
}

void JobQueue::Answer(const FinishedPage& page) {
  Stop outcome = page.outcome;
  if (outcome.code == kDriverOk && !WriteWhole(page.id + kPictureSuffix, page.picture))
    outcome = Stop{kDriverWrite, "the picture could not be written"};
  AnswerNow(page.id, outcome, page.refusals);
}

// The status comes last: once it is there, nothing of the service's work on the page is left.
void JobQueue::AnswerNow(const std::string& id, const Stop& outcome, const RefusalLog& refusals) {
  hostSeen_.erase(id);
  unlink((id + kTakenSuffix).c_str());
  PageStatus status{outcome.code, outcome.why, {}};
  refusals.AddTo(status.refused);
  if (outcome.code != kDriverHostGone && WriteWhole(id + kStatusSuffix, FormatStatus(status))) {
    answered_.insert(id);
    return;
  }
  for (const char* suffix : {kPictureSuffix, kStatusSuffix, kAliveSuffix}) unlink((id + suffix).c_str());
}

}  // namespace wine_extractor
