#include "wine_extractor/page_driver/request_answer.h"

#include "wine_extractor/page_driver/page_file.h"
#include "wine_extractor/page_driver/json_object.h"

namespace wine_extractor {

// A frame gets its first document, if the rules allow it; any later navigation of that frame (a
// refresh, a redirect, a link aimed at it) is answered "no content", which leaves the frame as it
// is: the page first loaded is the one drawn, and a page that keeps navigating cannot keep the load
// from ending. The engine opens no page file by its name: the driver opens the very file it judged
// and the engine reads that descriptor, so a file swapped for a link in between is never read, and
// no file's bytes pass through the driver. A file that is not there is refused as well, but it is
// no refusal of the rules.
RequestReply AnswerRequest(const JsonValue& params, const PageScope& scope, std::set<std::string>& framesWithDocument,
                           size_t filesOpen) {
  // Every answer names the request it answers.
  const auto answer = [&params] { return JsonObject().String("requestId", params["requestId"].Text()); };
  const std::string& kind = params["resourceType"].Text();
  const std::string& url = params["request"]["url"].Text();
  if (kind == "Document" && !framesWithDocument.insert(params["frameId"].Text()).second)
    return {"Fetch.fulfillRequest", answer().Number("responseCode", 204).Text(), std::nullopt, UniqueFd()};
  if (IsInline(url)) return {"Fetch.continueRequest", answer().Text(), std::nullopt, UniqueFd()};
  const Verdict verdict = JudgeRequest(url, scope, RealPath, KindOfResource(kind));
  PageFile file = !verdict.file              ? PageFile{UniqueFd(), verdict.rule}
                  : filesOpen >= kMaxOpenFiles ? PageFile{UniqueFd(), Rule::kTooManyFiles}
                                               : OpenPageFile(*verdict.file);
  if (!file.file) {
    RequestReply reply = RefuseRequest(params);
    if (file.rule) reply.refusal = Refusal{kind, url, RuleText(*file.rule)};
    return reply;
  }
  return {"Fetch.continueRequest", answer().String("url", DescriptorUrl(file.file.Get())).Text(), std::nullopt,
          std::move(file.file)};
}

RequestReply RefuseRequest(const JsonValue& params) {
  return {"Fetch.failRequest",
          JsonObject().String("requestId", params["requestId"].Text()).String("errorReason", "BlockedByClient").Text(),
          std::nullopt, UniqueFd()};
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
