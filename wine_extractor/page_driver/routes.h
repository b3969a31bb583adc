// Which page each of the engine's messages belongs to: one table of the command ids, session ids and
// target ids every page made, so a message goes to exactly one page, or to nobody's. Linux only.
#pragma once

#include <map>
#include <string>

namespace wine_extractor {

class PageRun;

class Routes {
 public:
  void Command(int id, PageRun* page) { commands_[id] = page; }
  // The page that sent command `id`, once: its reply comes once.
  PageRun* TakeCommand(int id);
  void Session(const std::string& session, PageRun* page) { sessions_[session] = page; }
  void Target(const std::string& target, PageRun* page) { targets_[target] = page; }
  PageRun* BySession(const std::string& session) const { return Find(sessions_, session); }
  PageRun* ByTarget(const std::string& target) const { return Find(targets_, target); }
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
  std::map<std::string, PageRun*> sessions_, targets_;
};

}  // namespace wine_extractor
