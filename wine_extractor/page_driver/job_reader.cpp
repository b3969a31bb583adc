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
  // A path that is no UTF-8 comes as the hex digits of its bytes.
  std::string page = job["page"].Text();
  const std::string& hex = job["pageBytes"].Text();
  if (!hex.empty()) {
    if (hex.size() % 2 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) return std::nullopt;
    page.clear();
    for (size_t i = 0; i < hex.size(); i += 2) page += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  if (!width || !height || !limit || !memory || page.empty() || page[0] != '/') return std::nullopt;
  // Absent means the rule for browsers: a job from an extractor that knows no switch.
  return PageJob{page, int32_t(*width), int32_t(*height), *limit, *memory, job["strict"].IsTrue()};
}

}  // namespace wine_extractor
