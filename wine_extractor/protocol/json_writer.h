// JSON as both sides write it: the extractor its jobs, the driver its calls to the engine.
#pragma once

#include <string>

namespace wine_extractor {

// `text` as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

}  // namespace wine_extractor
