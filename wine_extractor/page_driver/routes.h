// Which page each of the engine's messages belongs to: one table of the command ids, session ids and
// target ids every page made, so a message goes to exactly one page, or to nobody's. Linux only.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "wine_extractor/page_driver/json_value.h"

namespace wine_extractor {

class PageRun;

class Routes {
 public:
  void Command(int id, PageRun* page) { commands_[id] = page; }
  // The page that sent command `id`, once: its reply comes once.
  PageRun* TakeCommand(int id);
  void Session(const std::string& session, PageRun* page) { sessions_[session] = page; }
  void Target(const std::string& target, PageRun* page) { targets_[target] = page; }
  void Context(const std::string& context, PageRun* page) { contexts_[context] = page; }
  PageRun* BySession(const std::string& session) const { return Find(sessions_, session); }
  PageRun* ByTarget(const std::string& target) const { return Find(targets_, target); }
  // The page an event belongs to: the one whose session it came on, or (for the engine's news to the
  // browser, which carries no session of a page) whose target or session it names; none for the
  // engine's own news and for sessions of no page.
  PageRun* OwnerOfEvent(const JsonValue& message) const;

  // The command (method, params, session) that shuts out an event of no page: a session or target the
  // service did not make gets no file and no session of ours, and a page outside the contexts of ours
  // (the blank page the engine opens at its start) is closed, with the renderer it holds.
  struct EngineCommand {
    std::string method, params, session;
  };
  std::optional<EngineCommand> ShutOut(const JsonValue& message) const;

  // Everything of `page`: its replies and events go to nobody from now on.
  void Forget(const PageRun* page);
  void Clear();

 private:
  template <typename Key>
  static PageRun* Find(const std::map<Key, PageRun*>& table, const Key& key) {
    const auto at = table.find(key);
    return at == table.end() ? nullptr : at->second;
  }

  std::map<int, PageRun*> commands_;
  std::map<std::string, PageRun*> sessions_, targets_, contexts_;
};

}  // namespace wine_extractor
