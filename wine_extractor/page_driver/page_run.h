// One page of the engine in a browser context of its own, drawing one picture after another, as a
// state machine moved on by the engine's replies and events routed to it: the context, its page and
// the rules first, then each picture: the file under its own request rules, its load, one frame as a
// PNG. A page that gave a picture is cleared (it goes to a blank document, whose load ends whatever
// the last one left going) and draws the next; one that failed in any way is thrown away with its
// renderer. Never waits: every step is a command queued on the pipe, and every reply is checked.
// Linux only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/devtools_pipe.h"
#include "wine_extractor/page_driver/json_value.h"
#include "wine_extractor/page_driver/request_answer.h"
#include "wine_extractor/page_driver/request_policy.h"
#include "wine_extractor/page_driver/routes.h"
#include "wine_extractor/page_driver/stop.h"
#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {

class PageRun {
 public:
  PageRun(DevToolsPipe& pipe, Routes& routes) : pipe_(pipe), routes_(routes) {}
  // Closes the context without waiting for the engine; nothing of the page is routed any more.
  ~PageRun();
  PageRun(const PageRun&) = delete;
  PageRun& operator=(const PageRun&) = delete;

  // Starts making the context, its page and the rules.
  void Open();
  // Whether the context is made and no page was given to it yet.
  bool Ready() const { return step_ == Step::kReady; }
  // After a picture: clears the page for the next one (Ready() once the blank document has loaded).
  // False when it cannot draw another (it failed, or its renderer crashed): throw it away.
  bool Recycle();
  // Draws `page` in a viewport of width x height under `scope`, at once or as soon as it is Ready().
  void Draw(const std::string& page, const PageScope& scope, int width, int height);
  // Whether the engine took the page to load: from then on it counts as drawn by that engine.
  bool Navigated() const { return navigated_; }

  // What the engine says to this page; raise Stop when the page cannot go on.
  void OnReply(const JsonValue& message);
  void OnEvent(const JsonValue& message);
  // Now and then while it loads: a layout, which some pages need before they end loading.
  void Tick(int64_t now);

  // Loaded, ready for a frame with its picture (since FrameWantedSince()); StartCapture() asks for it.
  // The engine draws one frame at a time: whoever asks knows whether one is in flight.
  bool WantsFrame(int64_t now) const {
    return step_ == Step::kLoading && loaded_ && !layoutAsked_ && now >= frameWanted_;
  }
  int64_t FrameWantedSince() const { return frameWanted_; }
  bool FrameInFlight() const { return frameOut_; }
  void StartCapture();

  // Done with: a picture (outcome 0) or a failure. Fail() ends it with `stop` unless it is done.
  bool Done() const { return outcome_.has_value(); }
  void Fail(const Stop& stop);
  // Puts the failure of a page done with on another cause, once it is known.
  void Blame(const Stop& stop) { outcome_ = stop; }
  const Stop& Outcome() const { return *outcome_; }
  std::string& Picture() { return picture_; }
  // Whether it failed because its renderer crashed.
  bool Crashed() const { return crashed_; }
  // The requests refused while the page was drawn.
  const RefusalLog& Refusals() const { return refusals_; }

 private:
  enum class Step { kNone, kContext, kTarget, kAttach, kRules, kClearing, kReady, kNavigating, kLoading, kCapturing, kDone };
  enum class Purpose { kStep, kRule, kChild, kAnswer, kMetrics, kNavigate, kLayout, kCapture, kClear };

  int Send(Purpose purpose, const std::string& method, const std::string& params, const std::string& session = "");
  void Navigate();
  void SessionEnded(const std::string& what, bool crashed);
  void Cleared();
  void Answer(const std::string& session, const JsonValue& params);
  void Adopt(const JsonValue& params);

  DevToolsPipe& pipe_;
  Routes& routes_;
  Step step_ = Step::kNone;
  std::map<int, Purpose> sent_;
  int rulesWaiting_ = 0;
  std::string context_, target_, session_;
  std::set<std::string> sessions_;  // the page's, and those of its frames and workers
  std::set<std::string> retired_;   // those of the frames and workers of pictures before
  std::set<std::string> framesWithDocument_;
  std::optional<PageScope> scope_;
  std::string page_;
  int width_ = 0, height_ = 0;
  bool navigated_ = false, loaded_ = false, layoutAsked_ = false, crashed_ = false;
  bool frameOut_ = false;  // a frame asked for, whose reply has not come (done with or not)
  bool cleared_ = false, blankLoaded_ = false;  // while clearing: the blank document taken, and loaded
  int64_t nextLayout_ = 0, layoutEvery_ = 0, frameWanted_ = 0;
  int frames_ = 0;  // frames asked for a picture
  std::string picture_;
  std::optional<Stop> outcome_;
  RefusalLog refusals_;
  std::vector<UniqueFd> files_;  // the page's files the engine reads, open while it is drawn
};

}  // namespace wine_extractor
