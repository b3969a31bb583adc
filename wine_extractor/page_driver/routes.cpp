#include "wine_extractor/page_driver/routes.h"

namespace wine_extractor {

PageRun* Routes::TakeCommand(int id) {
  const auto at = commands_.find(id);
  if (at == commands_.end()) return nullptr;
  PageRun* page = at->second;
  commands_.erase(at);
  return page;
}

void Routes::Forget(const PageRun* page) {
  auto drop = [page](auto& table) {
    for (auto at = table.begin(); at != table.end();) at = at->second == page ? table.erase(at) : std::next(at);
  };
  drop(commands_);
  drop(sessions_);
  drop(targets_);
}

void Routes::Clear() {
  commands_.clear();
  sessions_.clear();
  targets_.clear();
}

}  // namespace wine_extractor
