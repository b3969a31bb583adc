#include "wine_extractor/protocol/queue_report.h"

#include "wine_extractor/protocol/text_fields.h"

namespace wine_extractor {
namespace {

constexpr const char* kStageWords[] = {"waiting", "drawing", "answered"};

bool Plain(const std::string& id) {
  if (id.empty()) return false;
  for (const char c : id)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

const JobPlace* QueueReport::Find(const std::string& id) const {
  for (const JobPlace& job : jobs)
    if (job.id == id) return &job;
  return nullptr;
}

std::string FormatQueue(const QueueReport& report) {
  std::string text = std::to_string(report.service.pid) + " " + std::to_string(report.service.start) + " " +
                     std::to_string(report.beat) + "\n";
  for (const JobPlace& job : report.jobs) {
    if (!Plain(job.id)) continue;
    std::string line = job.id + " " + kStageWords[int(job.stage)];
    if (job.stage == JobStage::kWaiting) line += " " + std::to_string(job.ahead);
    if (text.size() + line.size() + 1 > kMaxQueueBytes) break;
    text += line + "\n";
  }
  return text;
}

std::optional<QueueReport> ParseQueue(const std::string& text) {
  QueueReport report;
  size_t end = text.find('\n');
  const std::vector<std::string> first = SplitAt(text.substr(0, end), ' ');
  uint64_t pid = 0;
  if (first.size() != 3 || !ParseCount(first[0], pid) || pid == 0 || pid > UINT32_MAX ||
      !ParseCount(first[1], report.service.start) || !ParseCount(first[2], report.beat))
    return std::nullopt;
  report.service.pid = uint32_t(pid);
  while (end != std::string::npos) {
    const size_t start = end + 1;
    end = text.find('\n', start);
    // A last line without its end may be cut: passed over.
    if (end == std::string::npos) break;
    const std::vector<std::string> words = SplitAt(text.substr(start, end - start), ' ');
    if (words.size() < 2 || !Plain(words[0])) continue;
    JobPlace job{words[0]};
    uint64_t ahead = 0;
    if (words.size() == 3 && words[1] == kStageWords[0] && ParseCount(words[2], ahead) && ahead <= UINT32_MAX)
      job.ahead = uint32_t(ahead);
    else if (words.size() == 2 && words[1] == kStageWords[1])
      job.stage = JobStage::kDrawing;
    else if (words.size() == 2 && words[1] == kStageWords[2])
      job.stage = JobStage::kAnswered;
    else
      continue;
    report.jobs.push_back(std::move(job));
  }
  return report;
}

}  // namespace wine_extractor
