#include "wine_extractor/page_driver/request_answer.h"

#include "wine_extractor/page_driver/base64.h"
#include "wine_extractor/page_driver/page_file.h"
#include "wine_extractor/protocol/json_writer.h"

namespace wine_extractor {

// A frame gets its first document, if the rules allow it; any later navigation of that frame (a
// refresh, a redirect, a link aimed at it) is answered "no content", which leaves the frame as it
// is: the page first loaded is the one drawn, and a page that keeps navigating cannot keep the load
// from ending. The engine opens no page file itself: the driver reads the very file it judged and
// hands over its bytes, so a file swapped for a link in between is never read. A file that is not
// there is refused as well, but it is no refusal of the rules.
RequestReply AnswerRequest(const JsonValue& params, const PageScope& scope, std::set<std::string>& framesWithDocument) {
  const std::string id = JsonString(params["requestId"].Text());
  const std::string& kind = params["resourceType"].Text();
  const std::string& url = params["request"]["url"].Text();
  if (kind == "Document" && !framesWithDocument.insert(params["frameId"].Text()).second)
    return {"Fetch.fulfillRequest", "{\"requestId\":" + id + ",\"responseCode\":204}", std::nullopt};
  if (IsInline(url)) return {"Fetch.continueRequest", "{\"requestId\":" + id + "}", std::nullopt};
  const Verdict verdict = JudgeRequest(url, scope, RealPath, KindOfResource(kind));
  const PageFile file = verdict.file ? ReadPageFile(*verdict.file) : PageFile{std::nullopt, verdict.rule};
  if (!file.bytes) {
    RequestReply reply{"Fetch.failRequest", "{\"requestId\":" + id + ",\"errorReason\":\"BlockedByClient\"}",
                       std::nullopt};
    if (file.rule) reply.refusal = Refusal{kind, url, RuleText(*file.rule)};
    return reply;
  }
  const std::string contentType = ContentTypeOf(*verdict.file);
  // Without a type the engine looks at the bytes, as it does for a local file of no known extension.
  const std::string headers =
      contentType.empty() ? "[]" : "[{\"name\":\"Content-Type\",\"value\":" + JsonString(contentType) + "}]";
  return {"Fetch.fulfillRequest",
          "{\"requestId\":" + id + ",\"responseCode\":200,\"responseHeaders\":" + headers + ",\"body\":\"" +
              Base64Encode(*file.bytes) + "\"}",
          std::nullopt};
}

RequestReply RefuseRequest(const JsonValue& params) {
  return {"Fetch.failRequest",
          "{\"requestId\":" + JsonString(params["requestId"].Text()) + ",\"errorReason\":\"BlockedByClient\"}",
          std::nullopt};
}

void RefusalLog::Add(Refusal refusal) {
  if (kept_.size() < kKept)
    kept_.push_back(std::move(refusal));
  else
    ++dropped_;
}

void RefusalLog::AddTo(RefusedRequests& refused) const {
  for (const Refusal& refusal : kept_) refused.listed.push_back({refusal.kind, refusal.rule, refusal.url});
  refused.more += dropped_;
}

}  // namespace wine_extractor
