// The pieces of the line-based files both sides write (statuses, queue reports): counts and fields.
// Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wine_extractor {

// Decimal digits only, at most 19 of them (no sign, no space).
bool ParseCount(const std::string& text, uint64_t& value);

// `line` split at every `separator`; empty fields kept.
std::vector<std::string> SplitAt(const std::string& line, char separator);

}  // namespace wine_extractor
