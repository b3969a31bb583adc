// The browser engine over its DevTools pipe, and one page drawn in a browser context of its own under
// the request rules for untrusted pages. Linux only: the page driver's part.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/json_value.h"
#include "wine_extractor/protocol/driver_status.h"
#include "wine_extractor/page_driver/request_answer.h"
#include "wine_extractor/page_driver/request_policy.h"

namespace wine_extractor {

// Raised when a page (or the engine) cannot go on; carries the status to report, and a line that says
// why for whoever reads the failure.
struct Stop {
  DriverStatus code;
  std::string why;
};

// Where an engine started by this process writes its own messages: a file in the temporary folder
// (TMPDIR) that the render script or the service set aside for it; none without one.
std::string EngineLogPath();
// The last `bytes` of those messages; empty when there are none.
std::string EngineLogTail(size_t bytes);

// Called while the engine is waited for, every kSampleMs at least; may raise Stop.
using Watch = std::function<void()>;

class Engine {
 public:
  // Starts `program` with its DevTools pipe. With `ownGroup` the engine's processes form a process
  // group of their own (a service outlives engines), and die with the thread that started them. The
  // engine's own messages go to the file `log` when one is named, else nowhere.
  Engine(const std::string& program, const std::vector<std::string>& arguments, bool ownGroup,
         const std::string& log = "");
  // Kills the engine: in its own group, every process of it.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  void Write(const std::string& message);
  // The next message; runs the watch while it waits.
  JsonValue Read();
  // Whether a message is waiting, within `waitMs`.
  bool Readable(int waitMs);
  // What to poll, beside other things, for the engine's next bytes (after Readable(0) said none).
  int Descriptor() const { return from_; }

  // The resident memory of the engine's processes, and a ceiling checked at every watch.
  uint64_t ResidentBytes() const;
  // Raises Stop when they hold more than `ceiling` bytes.
  void CheckMemory(uint64_t ceiling) const;
  // The largest of the engine's processes but its first (the browser itself): its id and resident
  // bytes. None without a process group of its own.
  std::optional<std::pair<uint32_t, uint64_t>> LargestHelper() const;
  // Whether the engine was found gone (its pipe closed): every page of it failed.
  bool Ended() const { return ended_; }
  void SetWatch(Watch watch) { watch_ = std::move(watch); }

 private:
  // Whether the engine's process has ended; it is not reaped here.
  bool ProcessOver() const;
  void RunWatch();
  void StartReaper();
  size_t MessageEnd();

  pid_t pid_ = -1;
  pid_t reaper_ = -1;
  bool ownGroup_ = false;
  int to_ = -1, from_ = -1;
  std::string buffer_;  // messages from start_ on; those before scanned_ hold no end
  size_t start_ = 0, scanned_ = 0;
  Watch watch_;
  int64_t nextWatch_ = 0;
  bool ended_ = false;
};

// Commands to the engine and its replies; events go to whoever is listening.
class Connection {
 public:
  explicit Connection(Engine& engine) : engine_(engine) {}
  int Send(const std::string& method, const std::string& params = "{}", const std::string& session = "");
  // Sends a command and hands events to `onEvent` until its reply arrives; the reply's "result".
  JsonValue Call(const std::string& method, const std::string& params, const std::string& session,
                 const std::function<void(const JsonValue&)>& onEvent);
  // The next message, shown to the listener first.
  JsonValue Next();
  // Someone who sees every message read, besides whoever waits for it (a page made in the
  // background); none with an empty function.
  void Listen(std::function<void(const JsonValue&)> listener) { listener_ = std::move(listener); }

 private:
  Engine& engine_;
  int lastId_ = 0;
  std::function<void(const JsonValue&)> listener_;
};

// One page in a browser context of its own (its storage, cache and cookies are new and go with it):
// the requests it makes, the navigations it tries and the ways its session can end.
class PageRun {
 public:
  explicit PageRun(Connection& connection) : connection_(connection) {}
  // Closes the context without waiting for the engine.
  ~PageRun();
  PageRun(const PageRun&) = delete;
  PageRun& operator=(const PageRun&) = delete;

  // The context, its page and the rules, before any page is known.
  void Open();
  // The same without waiting: each reply, seen through Listen(), sends the next command. Ready()
  // once every one was answered; raises Stop when one failed.
  void StartOpen();
  void Follow(const JsonValue& message);
  bool Ready() const { return opened_; }
  // Starts loading `page` in a viewport of width x height under `scope`; false when the engine
  // refused it.
  bool Navigate(const std::string& page, const PageScope& scope, int width, int height);
  // Waits for the page's load event.
  void WaitLoaded();
  bool Load(const std::string& page, const PageScope& scope, int width, int height) {
    if (!Navigate(page, scope, width, height)) return false;
    WaitLoaded();
    return true;
  }
  // The viewport as a PNG.
  std::string Capture();

  // The same steps without waiting, for pages drawn side by side: each reply and event, seen through
  // Follow() and Handle(), moves the page on. Once Loaded(), StartCapture(); once Captured(), the
  // PNG is Picture(). NoLoad() when the engine refused the page.
  void StartDraw(const std::string& page, const PageScope& scope, int width, int height);
  bool Loaded() const { return loaded_ && navigated_; }
  bool NoLoad() const { return noLoad_; }
  void StartCapture();
  bool Captured() const { return captured_; }
  std::string& Picture() { return picture_; }
  // The page's own target, whose renderer draws it.
  const std::string& Target() const { return target_; }

  // Acts on an event if it concerns this page (one of its sessions or its target).
  void Handle(const JsonValue& message);
  // The requests of the page that the rules refused.
  const RefusalLog& Refusals() const { return refusals_; }

 private:
  void Answer(const std::string& session, const JsonValue& params);

  Connection& connection_;
  PageScope scope_;
  std::string context_, target_, session_;
  std::set<std::string> sessions_;  // the page's, and those of its frames in processes of their own
  std::set<std::string> framesWithDocument_;
  RefusalLog refusals_;
  bool loaded_ = false;
  bool opened_ = false;
  std::set<int> waiting_;  // commands of StartOpen not answered yet
  int step_ = 0;
  int navigate_ = 0, capture_ = 0;  // the commands of StartDraw and StartCapture
  bool navigated_ = false, noLoad_ = false, captured_ = false;
  int frames_ = 0;  // frames asked for a picture
  std::string picture_;
};

// One message from the engine may be at most this large (a picture of 16384 x 16384 pixels fits);
// a larger one fails the page.
inline constexpr size_t kMaxMessageBytes = size_t(512) << 20;

// How often the engine's memory (and whatever else the watch checks) is looked at while it works: a
// page that grows by 150 MB a second overshoots the ceiling by 15 MB at most.
inline constexpr int kSampleMs = 100;

int64_t NowMs();

}  // namespace wine_extractor
