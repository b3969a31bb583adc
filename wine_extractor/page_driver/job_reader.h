// A job as the page service reads it from its spool.
#pragma once

#include <optional>
#include <string>

#include "wine_extractor/protocol/page_job.h"

namespace wine_extractor {

// None when `text` is no job, or a value is out of range.
std::optional<PageJob> ParseJob(const std::string& text);

}  // namespace wine_extractor
