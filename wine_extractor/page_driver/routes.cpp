#include "wine_extractor/page_driver/routes.h"

#include "wine_extractor/page_driver/json_object.h"

namespace wine_extractor {

PageRun* Routes::TakeCommand(int id) {
  const auto at = commands_.find(id);
  if (at == commands_.end()) return nullptr;
  PageRun* page = at->second;
  commands_.erase(at);
  return page;
}

PageRun* Routes::OwnerOfEvent(const JsonValue& message) const {
  const std::string& session = message["sessionId"].Text();
  const std::string& method = message["method"].Text();
  const JsonValue& params = message["params"];
  if (!session.empty()) return BySession(session);
  if (method == "Target.attachedToTarget") return ByTarget(params["targetInfo"]["targetId"].Text());
  if (method == "Target.detachedFromTarget") return BySession(params["sessionId"].Text());
  if (method == "Target.targetDestroyed" || method == "Target.targetCrashed") return ByTarget(params["targetId"].Text());
  return nullptr;
}

std::optional<Routes::EngineCommand> Routes::ShutOut(const JsonValue& message) const {
  const std::string& method = message["method"].Text();
  const JsonValue& params = message["params"];
  if (method == "Fetch.requestPaused")
    return EngineCommand{
        "Fetch.failRequest",
        JsonObject().String("requestId", params["requestId"].Text()).String("errorReason", "BlockedByClient").Text(),
        message["sessionId"].Text()};
  const JsonValue& target = params["targetInfo"];
  if (method == "Target.targetCreated" && target["type"].Text() == "page" &&
      !Find(contexts_, target["browserContextId"].Text()))
    return EngineCommand{"Target.closeTarget", JsonObject().String("targetId", target["targetId"].Text()).Text(), ""};
  if (method == "Target.attachedToTarget" && !params["sessionId"].Text().empty())
    return EngineCommand{"Target.detachFromTarget", JsonObject().String("sessionId", params["sessionId"].Text()).Text(),
                         ""};
  return std::nullopt;
}

void Routes::Forget(const PageRun* page) {
  auto drop = [page](auto& table) {
    for (auto at = table.begin(); at != table.end();) at = at->second == page ? table.erase(at) : std::next(at);
  };
  drop(commands_);
  drop(sessions_);
  drop(targets_);
  drop(contexts_);
}

void Routes::Clear() {
  commands_.clear();
  sessions_.clear();
  targets_.clear();
  contexts_.clear();
}

}  // namespace wine_extractor
