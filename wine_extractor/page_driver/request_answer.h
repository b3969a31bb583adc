// The answer to one request a page's engine paused for us: judged by the request rules, its file
// opened by the driver itself and handed to the engine as that descriptor, and a refusal kept to be
// told. Linux only: the page driver's part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/json_value.h"
#include "wine_extractor/page_driver/request_policy.h"
#include "wine_extractor/page_driver/unique_fd.h"
#include "wine_extractor/protocol/page_status.h"

namespace wine_extractor {

// One refused request of a page: the kind the engine gave it, its address as the page named it, and
// the rule that refused it.
struct Refusal { std::string kind, url, rule; };

// A page may hold this many of its files open for the engine at once; later requests are refused.
inline constexpr size_t kMaxOpenFiles = 4096;

// The command that answers one Fetch.requestPaused (its params) of a page drawn under `scope`;
// `framesWithDocument` holds the page's frames that have their first document already, and
// `filesOpen` counts the files the page holds open already.
struct RequestReply {
  std::string method;  // a Fetch.* command
  std::string params;  // its JSON params
  std::optional<Refusal> refusal;
  UniqueFd file;  // the file the engine reads, to be kept open as long as the page is drawn
};
RequestReply AnswerRequest(const JsonValue& params, const PageScope& scope, std::set<std::string>& framesWithDocument,
                           size_t filesOpen);

// The answer for a request no page's rules cover yet (a context made ahead): refused, and not told as
// a refusal of the rules.
RequestReply RefuseRequest(const JsonValue& params);

// The refusals of one page, in the order they came: the first few kept, the rest only counted (a
// page may ask for thousands of files).
class RefusalLog {
 public:
  static constexpr size_t kKept = kMaxRefusedLines;

  void Add(Refusal refusal);
  const std::vector<Refusal>& Kept() const { return kept_; }
  // How many came after those kept.
  uint64_t Dropped() const { return dropped_; }
  // Into the lines of the page's status file.
  void AddTo(RefusedRequests& refused) const;

 private:
  std::vector<Refusal> kept_;
  uint64_t dropped_ = 0;
};

}  // namespace wine_extractor
