#include "wine_extractor/protocol/page_job.h"

#include "wine_extractor/protocol/json_writer.h"

namespace wine_extractor {

std::string FormatJob(const PageJob& job) {
  return "{\"page\":" + JsonString(job.page) + ",\"width\":" + std::to_string(job.width) +
         ",\"height\":" + std::to_string(job.height) + ",\"limit\":" + std::to_string(job.timeLimitMs) +
         ",\"memory\":" + std::to_string(job.memoryLimitMb) +
         ",\"strict\":" + (job.strictFolder ? "true" : "false") + "}";
}

}  // namespace wine_extractor
