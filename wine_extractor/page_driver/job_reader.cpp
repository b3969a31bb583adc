#include "wine_extractor/page_driver/job_reader.h"

#include "wine_extractor/page_driver/json_value.h"
#include "wine_extractor/protocol/engine_settings.h"

namespace wine_extractor {

std::optional<PageJob> ParseJob(const std::string& text) {
  const std::optional<JsonValue> value = JsonValue::Parse(text);
  if (!value) return std::nullopt;
  const JsonValue& job = *value;
  auto whole = [&](const char* name, double max) -> std::optional<uint32_t> {
    const double number = job[name].Number();
    if (number < 1 || number > max || number != double(uint32_t(number))) return std::nullopt;
    return uint32_t(number);
  };
  const auto width = whole("width", 16384), height = whole("height", 16384);
  const auto limit = whole("limit", kMaxTimeLimitMs), memory = whole("memory", kMaxMemoryLimitMb);
  if (!width || !height || !limit || !memory || job["page"].Text().empty() || job["page"].Text()[0] != '/')
    return std::nullopt;
  // Absent means the rule for browsers: a job from an extractor that knows no switch.
  return PageJob{job["page"].Text(), int32_t(*width), int32_t(*height), *limit, *memory, job["strict"].IsTrue()};
}

}  // namespace wine_extractor
