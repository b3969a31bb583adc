// The answer to one request an untrusted page makes: the file the request rules allow, read by the
// driver itself and handed over, or a refusal. Linux only: the page driver's part.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "wine_extractor/page_driver/json_value.h"
#include "wine_extractor/page_driver/request_policy.h"

namespace wine_extractor {

// One refused request of a page: the kind the engine gave it, its address as the page named it, and
// the rule that refused it.
struct Refusal {
  std::string kind, url, rule;
};

// The command that answers one Fetch.requestPaused (its params) of a page drawn under `scope`;
// `framesWithDocument` holds the page's frames that have their first document already.
struct RequestReply {
  std::string method;  // a Fetch.* command
  std::string params;  // its JSON params
  std::optional<Refusal> refusal;
};
RequestReply AnswerRequest(const JsonValue& params, const PageScope& scope, std::set<std::string>& framesWithDocument);

// The answer for a request nobody's rules cover (a context made ahead, a session of no page): refused.
RequestReply RefuseRequest(const JsonValue& params);

}  // namespace wine_extractor
