#include "wine_extractor/page_driver/page_run.h"

#include <algorithm>

#include "wine_extractor/page_driver/base64.h"
#include "wine_extractor/page_driver/clock.h"
#include "wine_extractor/protocol/engine_job.h"
#include "wine_extractor/page_driver/json_object.h"

namespace wine_extractor {
namespace {

// Every request stops at the rules first, the page's own included.
constexpr char kEveryRequest[] = "{\"patterns\":[{\"urlPattern\":\"*\"}]}";
constexpr char kNoScripts[] = "{\"value\":true}";
// Frames in processes of their own wait for our rules before they run, and bring theirs along.
constexpr char kAttachChildren[] = "{\"autoAttach\":true,\"waitForDebuggerOnStart\":true,\"flatten\":true}";
// Speed over size: the file lives for a moment and is read once.
constexpr char kFrameWithPicture[] = "{\"screenshot\":{\"format\":\"png\",\"optimizeForSpeed\":true}}";
// A page that gives no picture in this many frames is failed rather than asked forever.
constexpr int kMaxFrames = 50;
// A frame that came without a picture is asked again no sooner than this: the engine draws one
// frame at a time, and the frames of other pages waiting go first.
constexpr int64_t kFrameAgainMs = 10;
// The engine's word for a request it no longer holds (its frame went meanwhile): nothing to answer.
constexpr char kRequestGone[] = "Invalid InterceptionId";
// A page that has not loaded this long after its navigation is laid out, and again as long as it
// loads: an element that starts loading only once laid out (an <object> behind a stylesheet) holds the
// load event back on a page that draws only when asked. Asking for the layout's metrics lays it out
// without a frame (frames asked while the last is still drawn crash the engine's GPU process).
// Each layout of a large document costs much, so they come further apart the longer it loads.
constexpr int64_t kLayoutMs = 100, kLayoutMaxMs = 1600;

}  // namespace

PageRun::~PageRun() {
  routes_.Forget(this);
  // The engine may be gone; then the context went with it, and the command is never written.
  if (!context_.empty())
    pipe_.Send("Target.disposeBrowserContext", JsonObject().String("browserContextId", context_));
}

int PageRun::Send(Purpose purpose, const std::string& method, const std::string& params, const std::string& session) {
  const int id = pipe_.Send(method, params, session);
  routes_.Command(id, this);
  sent_[id] = purpose;
  return id;
}

void PageRun::Open() {
  step_ = Step::kContext;
  Send(Purpose::kStep, "Target.createBrowserContext", JsonObject().Bool("disposeOnDetach", true).Text());
}

bool PageRun::Recycle() {
  if (!Done() || outcome_->code != kDriverOk || crashed_ || session_.empty()) return false;
  step_ = Step::kClearing;
  // Nothing of the picture before: its state, its files, its frames' sessions and the replies still
  // to come for its commands (its frames and workers are gone with its document).
  sent_.clear();
  for (const std::string& session : sessions_)
    if (session != session_) retired_.insert(session);
  sessions_ = {session_};
  framesWithDocument_.clear();
  scope_.reset();
  page_.clear();
  navigated_ = loaded_ = layoutAsked_ = frameOut_ = cleared_ = blankLoaded_ = false;
  frames_ = 0;
  frameWanted_ = 0;
  picture_.clear();
  outcome_.reset();
  refusals_ = RefusalLog();
  files_.clear();
  Send(Purpose::kClear, "Page.navigate", JsonObject().String("url", "about:blank").Text(), session_);
  return true;
}

void PageRun::Draw(const std::string& page, const PageScope& scope, int width, int height) {
  page_ = page;
  scope_ = scope;
  width_ = width;
  height_ = height;
  if (step_ == Step::kReady) Navigate();
}

void PageRun::Navigate() {
  step_ = Step::kNavigating;
  // A session's commands run in turn: the viewport is set before the page loads.
  Send(Purpose::kMetrics, "Emulation.setDeviceMetricsOverride",
       JsonObject().Number("width", width_).Number("height", height_).Number("deviceScaleFactor", 1).Bool("mobile", false).Text(),
       session_);
  Send(Purpose::kNavigate, "Page.navigate", JsonObject().String("url", FileUrl(page_)).Text(), session_);
}

void PageRun::OnReply(const JsonValue& message) {
  const auto at = sent_.find(int(*message["id"].Whole()));
  if (at == sent_.end()) return;
  const Purpose purpose = at->second;
  sent_.erase(at);
  if (purpose == Purpose::kCapture) frameOut_ = false;
  if (Done()) return;
  // A frame's session may end before its rules are set: nothing of it is drawn then.
  if (purpose == Purpose::kChild) return;
  if (message["error"].GetKind() != JsonValue::Kind::Null) {
    const std::string& said = message["error"]["message"].Text();
    if (purpose == Purpose::kAnswer) {
      if (said.find(kRequestGone) != std::string::npos) return;
      throw Stop{kDriverEngine, "the engine refused the answer to a request of the page: " + said};
    }
    throw Stop{kDriverEngine, std::string(step_ >= Step::kNavigating ? "the engine refused to draw the page: "
                                                                      : "the engine refused to open a page: ") +
                                  said};
  }
  const JsonValue& result = message["result"];
  switch (purpose) {
    case Purpose::kStep:
      if (step_ == Step::kContext) {
        context_ = result["browserContextId"].Text();
        if (context_.empty()) throw Stop{kDriverEngine, "the engine made no browser context"};
        routes_.Context(context_, this);
        step_ = Step::kTarget;
        Send(Purpose::kStep, "Target.createTarget",
             JsonObject().String("url", "about:blank").Bool("enableBeginFrameControl", true).String("browserContextId", context_).Text());
      } else if (step_ == Step::kTarget) {
        target_ = result["targetId"].Text();
        if (target_.empty()) throw Stop{kDriverEngine, "the engine made no page"};
        routes_.Target(target_, this);
        step_ = Step::kAttach;
        Send(Purpose::kStep, "Target.attachToTarget", JsonObject().String("targetId", target_).Bool("flatten", true).Text());
      } else if (step_ == Step::kAttach) {
        session_ = result["sessionId"].Text();
        if (session_.empty()) throw Stop{kDriverEngine, "the engine gave no session for the page"};
        sessions_.insert(session_);
        routes_.Session(session_, this);
        step_ = Step::kRules;
        rulesWaiting_ = 5;
        Send(Purpose::kRule, "Target.setAutoAttach", kAttachChildren, session_);
        Send(Purpose::kRule, "Fetch.enable", kEveryRequest, session_);
        Send(Purpose::kRule, "Emulation.setScriptExecutionDisabled", kNoScripts, session_);
        Send(Purpose::kRule, "Page.enable", "{}", session_);
        Send(Purpose::kRule, "Inspector.enable", "{}", session_);
      }
      break;
    case Purpose::kRule:
      if (--rulesWaiting_ == 0) {
        step_ = Step::kReady;
        if (scope_) Navigate();
      }
      break;
    case Purpose::kMetrics:
    case Purpose::kChild:
    case Purpose::kAnswer:
      break;
    case Purpose::kNavigate:
      if (!result["errorText"].Text().empty()) {
        Fail(Stop{kDriverNoLoad, "the engine could not load the page: " + result["errorText"].Text()});
        return;
      }
      step_ = Step::kLoading;
      navigated_ = true;
      layoutEvery_ = kLayoutMs;
      nextLayout_ = NowMs() + layoutEvery_;
      break;
    case Purpose::kLayout:
      layoutAsked_ = false;
      break;
    case Purpose::kClear:
      cleared_ = true;
      Cleared();
      break;
    case Purpose::kCapture:
      if (result["screenshotData"].GetKind() == JsonValue::Kind::Null) {
        // Asked again after the frames of other pages, never at once.
        if (frames_ >= kMaxFrames) throw Stop{kDriverEngine, "the engine drew no picture of the page"};
        step_ = Step::kLoading;
        frameWanted_ = NowMs() + kFrameAgainMs;
        return;
      }
      if (!Base64Decode(result["screenshotData"].Text(), picture_) || picture_.empty())
        throw Stop{kDriverEngine, "the engine's screenshot is no PNG"};
      step_ = Step::kDone;
      outcome_ = Stop{kDriverOk, ""};
      files_.clear();
      break;
  }
}

void PageRun::OnEvent(const JsonValue& message) {
  if (Done()) return;
  const std::string& from = message["sessionId"].Text();
  const std::string& method = message["method"].Text();
  const JsonValue& params = message["params"];
  if (method == "Fetch.requestPaused") {
    Answer(from, params);
  } else if (method == "Page.loadEventFired" && step_ == Step::kClearing) {
    if (from == session_) {
      blankLoaded_ = true;
      Cleared();
    }
  } else if (method == "Page.loadEventFired") {
    if (from == session_ && !loaded_) {
      loaded_ = true;
      frameWanted_ = NowMs();
    }
  } else if (method == "Target.attachedToTarget") {
    // The page's own target, announced to the browser: its session came with the reply.
    if (!from.empty()) Adopt(params);
  } else if (method == "Target.detachedFromTarget") {
    if (params["sessionId"].Text() == session_) SessionEnded(method, false);
  } else if (method == "Target.targetDestroyed" || method == "Target.targetCrashed") {
    if (params["targetId"].Text() == target_) SessionEnded(method, method == "Target.targetCrashed");
  } else if (method == "Inspector.detached" || method == "Inspector.targetCrashed") {
    if (from == session_) SessionEnded(method, method == "Inspector.targetCrashed");
  }
}

// A frame or worker of the page in a process of its own, paused until it has the page's rules.
void PageRun::Adopt(const JsonValue& params) {
  const std::string child = params["sessionId"].Text();
  if (child.empty()) return;
  sessions_.insert(child);
  routes_.Session(child, this);
  if (!params["targetInfo"]["targetId"].Text().empty()) routes_.Target(params["targetInfo"]["targetId"].Text(), this);
  Send(Purpose::kChild, "Target.setAutoAttach", kAttachChildren, child);
  Send(Purpose::kChild, "Fetch.enable", kEveryRequest, child);
  Send(Purpose::kChild, "Emulation.setScriptExecutionDisabled", kNoScripts, child);
  Send(Purpose::kChild, "Runtime.runIfWaitingForDebugger", "{}", child);
}

// The blank document loaded after the navigation to it was taken: nothing of the last picture goes on.
void PageRun::Cleared() {
  if (step_ != Step::kClearing || !cleared_ || !blankLoaded_) return;
  step_ = Step::kReady;
  if (scope_) Navigate();
}

void PageRun::Answer(const std::string& session, const JsonValue& params) {
  // A context made ahead has no rules yet, and a frame of a picture before none any more: they load
  // nothing.
  RequestReply reply = scope_ && !retired_.count(session) && step_ != Step::kClearing
                           ? AnswerRequest(params, *scope_, framesWithDocument_, files_.size())
                           : RefuseRequest(params);
  if (reply.refusal) refusals_.Add(std::move(*reply.refusal));
  if (reply.file) files_.push_back(std::move(reply.file));
  Send(Purpose::kAnswer, reply.method, reply.params, session);
}

void PageRun::SessionEnded(const std::string& what, bool crashed) {
  crashed_ = crashed;
  // No reply will come: answer now.
  throw Stop{kDriverEngine, crashed ? "the page's renderer crashed (" + what + ")"
                                    : "the page's session ended (" + what + ")"};
}

void PageRun::Tick(int64_t now) {
  if (step_ != Step::kLoading || loaded_ || layoutAsked_ || now < nextLayout_) return;
  layoutAsked_ = true;
  layoutEvery_ = std::min(layoutEvery_ * 2, kLayoutMaxMs);
  nextLayout_ = now + layoutEvery_;
  Send(Purpose::kLayout, "Page.getLayoutMetrics", "{}", session_);
}

// The page draws only when asked (its target was made with begin-frame control): one frame, drawn
// with every stage and taken as it is drawn, which spares the wait for the next regular frame and a
// second drawing. The engine may give a frame without a picture (while the renderer starts, or with
// nothing new to draw), so a few frames are asked for.
void PageRun::StartCapture() {
  step_ = Step::kCapturing;
  frameOut_ = true;
  ++frames_;
  Send(Purpose::kCapture, "HeadlessExperimental.beginFrame", kFrameWithPicture, session_);
}

void PageRun::Fail(const Stop& stop) {
  if (Done()) return;
  step_ = Step::kDone;
  outcome_ = stop;
  files_.clear();
}

}  // namespace wine_extractor
