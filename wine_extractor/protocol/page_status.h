// A page's status file, as the page service writes it and the extractor reads it: the driver status
// and what it said on the first line ("STATUS REASON"), then one line per request of the page that the
// request rules refused ("refused<TAB>KIND<TAB>RULE<TAB>ADDRESS"), at most a few, and a line counting
// the rest ("more<TAB>COUNT"). Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wine_extractor {

// One refused request: the kind the engine gave it, the rule that refused it, its address.
struct RefusedRequest {
  std::string kind, rule, url;
};

// The refused requests of a page: the first few, and how many more there were.
struct RefusedRequests {
  std::vector<RefusedRequest> listed;
  uint64_t more = 0;
};

struct PageStatus {
  int code = -1;  // a DriverStatus
  std::string reason;
  RefusedRequests refused;
};

// Lines kept, and how much of a reason and an address: a status file stays small, and a page's own
// words are cut short.
inline constexpr size_t kMaxRefusedLines = 5;
inline constexpr size_t kMaxReasonBytes = 2048;
inline constexpr size_t kMaxRefusedUrlBytes = 400;
// No status file is longer.
inline constexpr size_t kMaxStatusBytes = 8192;

// The file's text: fields cut to their bounds (a cut address ends in "..."), control bytes made "?"
// so that every field stays on its line, refused requests beyond kMaxRefusedLines counted.
std::string FormatStatus(const PageStatus& status);

// Reads it back; none when the first line holds no status. Lines it does not know are passed over.
std::optional<PageStatus> ParseStatus(const std::string& text);

}  // namespace wine_extractor
