#include "wine_extractor/page_driver/devtools.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "wine_extractor/page_driver/base64.h"
#include "wine_extractor/protocol/engine_job.h"
#include "wine_extractor/page_driver/proc_files.h"

namespace wine_extractor {
namespace {

constexpr char kEngineEnded[] = "the engine ended or closed its pipe";
constexpr size_t kReadBytes = 65536;

// Every request stops at the policy first, the page's own included.
constexpr char kEveryRequest[] = "{\"patterns\":[{\"urlPattern\":\"*\"}]}";
// Speed over size: the file lives for a moment and is read once.
constexpr char kFrameWithPicture[] = "{\"screenshot\":{\"format\":\"png\",\"optimizeForSpeed\":true}}";
// A page that gives no picture in this many frames is failed rather than asked forever.
constexpr int kMaxFrames = 50;

// A blank page in `context` that draws only when asked (see PageRun::StartCapture).
std::string BlankPageIn(const std::string& context) {
  return "{\"url\":\"about:blank\",\"enableBeginFrameControl\":true,\"browserContextId\":" + JsonString(context) + "}";
}

}  // namespace

std::string EngineLogPath() {
  const char* temp = std::getenv("TMPDIR");
  return temp && *temp ? std::string(temp) + "/zelnar-engine.log" : std::string();
}

std::string EngineLogTail(size_t bytes) {
  const std::string path = EngineLogPath();
  const int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return "";
  const off_t size = lseek(fd, 0, SEEK_END);
  std::string tail(size > 0 ? std::min<size_t>(size_t(size), bytes) : 0, '\0');
  const ssize_t n = tail.empty() ? 0 : pread(fd, &tail[0], tail.size(), size - off_t(tail.size()));
  close(fd);
  tail.resize(n > 0 ? size_t(n) : 0);
  while (!tail.empty() && tail.back() == '\n') tail.pop_back();
  return tail;
}

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

Engine::Engine(const std::string& program, const std::vector<std::string>& arguments, bool ownGroup,
               const std::string& log)
    : ownGroup_(ownGroup) {
  int commands[2], events[2];
  if (pipe2(commands, O_CLOEXEC) != 0) throw Stop{kDriverEngine, "no pipe for the engine"};
  if (pipe2(events, O_CLOEXEC) != 0) {
    close(commands[0]);
    close(commands[1]);
    throw Stop{kDriverEngine, "no pipe for the engine"};
  }
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw Stop{kDriverEngine, "cannot start the engine"};
  if (pid_ == 0) {
    if (ownGroup) setpgid(0, 0);
    // A killed driver, service or one-picture driver alike, leaves no engine behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // The engine reads commands on descriptor 3 and writes answers on 4.
    const int in = fcntl(commands[0], F_DUPFD, 10);
    const int out = fcntl(events[1], F_DUPFD, 10);
    if (in < 0 || out < 0 || dup2(in, 3) != 3 || dup2(out, 4) != 4) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    const int messages = log.empty() ? -1 : open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
    dup2(null, 0);
    dup2(null, 1);
    dup2(messages >= 0 ? messages : null, 2);
    // The engine gets its pipe and nothing else of ours, however many descriptors we hold.
    if (close_range(5, ~0U, 0) != 0)
      for (int fd = 5; fd < 1024; ++fd) close(fd);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (ownGroup) {
    setpgid(pid_, pid_);  // either side may come first
    StartReaper();
  }
  close(commands[0]);
  close(events[1]);
  to_ = commands[1];
  from_ = events[0];
}

Engine::~Engine() {
  close(to_);
  close(from_);
  if (ownGroup_) kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  int status;
  waitpid(pid_, &status, 0);
  if (reaper_ > 0) waitpid(reaper_, &status, 0);
}

// The engine's program may be a wrapper that starts the engine as its child, which no death signal
// of ours reaches: a small process in the engine's group ends the whole group when we die.
void Engine::StartReaper() {
  sigset_t wanted, old;
  sigemptyset(&wanted);
  sigaddset(&wanted, SIGUSR1);
  sigprocmask(SIG_BLOCK, &wanted, &old);
  const pid_t parent = getpid();
  reaper_ = fork();
  if (reaper_ == 0) {
    // It holds nothing of ours, the service's lock least.
    if (close_range(3, ~0U, 0) != 0)
      for (int fd = 3; fd < 1024; ++fd) close(fd);
    setpgid(0, pid_);
    prctl(PR_SET_PDEATHSIG, SIGUSR1);
    if (getppid() == parent) {
      int signal = 0;
      sigwait(&wanted, &signal);
    }
    kill(-pid_, SIGKILL);
    _exit(0);
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (reaper_ > 0) setpgid(reaper_, pid_);
}

void Engine::Write(const std::string& message) {
  const std::string framed = message + '\0';
  for (size_t done = 0; done < framed.size();) {
    const ssize_t n = write(to_, framed.data() + done, framed.size() - done);
    if (n < 0 && errno == EINTR) continue;
    // No reader left: the engine ended, or closed its pipe, as a read would find out too. Whichever
    // error the write met first, an engine whose process is over is reported as ended.
    if (n <= 0) {
      ended_ = true;
      throw Stop{kDriverEngine, errno == EPIPE || ProcessOver() ? kEngineEnded : "the engine stopped reading its pipe"};
    }
    done += size_t(n);
  }
}

bool Engine::ProcessOver() const {
  siginfo_t info{};
  // WNOWAIT: the process stays for the destructor to reap, so its id cannot be reused meanwhile.
  return waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
}

// Where the next message ends in the buffer, searching only bytes not searched before.
size_t Engine::MessageEnd() {
  const size_t end = buffer_.find('\0', scanned_);
  scanned_ = end == std::string::npos ? buffer_.size() : end;
  return end;
}

bool Engine::Readable(int waitMs) {
  if (MessageEnd() != std::string::npos) return true;
  pollfd ready{from_, POLLIN, 0};
  return poll(&ready, 1, waitMs) > 0;
}

JsonValue Engine::Read() {
  for (;;) {
    const size_t end = MessageEnd();
    if (end != std::string::npos) {
      // Parsed where it lies; the bytes before the next message go at once.
      std::optional<JsonValue> value = JsonValue::Parse(std::string_view(buffer_.data() + start_, end - start_));
      start_ = scanned_ = end + 1;
      if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = scanned_ = 0;
      }
      if (!value) throw Stop{kDriverEngine, "the engine sent a message that is not JSON"};
      return std::move(*value);
    }
    if (buffer_.size() - start_ > kMaxMessageBytes)
      throw Stop{kDriverEngine, "the engine sent a message of more than " + std::to_string(kMaxMessageBytes >> 20) + " MB"};
    if (NowMs() >= nextWatch_) RunWatch();
    pollfd ready{from_, POLLIN, 0};
    if (poll(&ready, 1, int(std::max<int64_t>(0, nextWatch_ - NowMs()))) <= 0) continue;
    // What is left of earlier messages moves to the front once, before the buffer grows.
    if (start_ > 0) {
      buffer_.erase(0, start_);
      scanned_ -= start_;
      start_ = 0;
    }
    const size_t had = buffer_.size();
    buffer_.resize(had + kReadBytes);
    const ssize_t n = read(from_, &buffer_[had], kReadBytes);
    buffer_.resize(had + size_t(std::max<ssize_t>(n, 0)));
    if (n <= 0) {
      ended_ = true;
      throw Stop{kDriverEngine, kEngineEnded};
    }
  }
}

void Engine::RunWatch() {
  nextWatch_ = NowMs() + kSampleMs;
  if (watch_) watch_();
}

// The engine reserves far more address space than it uses, so only resident memory counts. Its
// processes stay in its group (or, without a group of its own, in ours, which adds a driver).
uint64_t Engine::ResidentBytes() const { return GroupResidentBytes(ownGroup_ ? pid_ : getpgrp()); }

std::optional<std::pair<uint32_t, uint64_t>> Engine::LargestHelper() const {
  if (!ownGroup_) return std::nullopt;
  return LargestInGroup(pid_, pid_);
}

void Engine::CheckMemory(uint64_t ceiling) const {
  const uint64_t resident = ResidentBytes();
  if (resident > ceiling)
    throw Stop{kDriverMemory, "the engine holds " + std::to_string(resident >> 20) + " MB, over its ceiling"};
}

int Connection::Send(const std::string& method, const std::string& params, const std::string& session) {
  const int id = ++lastId_;
  std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + JsonString(method) + ",\"params\":" + params;
  if (!session.empty()) message += ",\"sessionId\":" + JsonString(session);
  engine_.Write(message + "}");
  return id;
}

JsonValue Connection::Call(const std::string& method, const std::string& params, const std::string& session,
                           const std::function<void(const JsonValue&)>& onEvent) {
  const int id = Send(method, params, session);
  for (;;) {
    JsonValue message = Next();
    if (message["id"].Whole() == id) {
      if (message["error"].GetKind() != JsonValue::Kind::Null)
        throw Stop{kDriverEngine, "the engine refused " + method + ": " + message["error"]["message"].Text()};
      return message["result"];
    }
    onEvent(message);
  }
}

JsonValue Connection::Next() {
  JsonValue message = engine_.Read();
  if (listener_) listener_(message);
  return message;
}

PageRun::~PageRun() {
  if (context_.empty()) return;
  try {
    connection_.Send("Target.disposeBrowserContext", "{\"browserContextId\":" + JsonString(context_) + "}");
  } catch (const Stop&) {
    // The engine is gone, and the context with it.
  }
}

void PageRun::Open() {
  auto handler = [this](const JsonValue& message) { Handle(message); };
  context_ = connection_.Call("Target.createBrowserContext", "{\"disposeOnDetach\":true}", "", handler)
                 ["browserContextId"].Text();
  if (context_.empty()) throw Stop{kDriverEngine, "the engine made no browser context"};
  target_ = connection_.Call("Target.createTarget", BlankPageIn(context_), "", handler)["targetId"].Text();
  if (target_.empty()) throw Stop{kDriverEngine, "the engine made no page"};
  session_ = connection_.Call("Target.attachToTarget", "{\"targetId\":" + JsonString(target_) + ",\"flatten\":true}",
                              "", handler)["sessionId"].Text();
  if (session_.empty()) throw Stop{kDriverEngine, "the engine gave no session for the page"};
  sessions_.insert(session_);
  // Frames the engine puts in processes of their own get the same rules before they run.
  connection_.Call("Target.setAutoAttach", "{\"autoAttach\":true,\"waitForDebuggerOnStart\":true,\"flatten\":true}",
                   session_, handler);
  for (const char* method : {"Fetch.enable", "Emulation.setScriptExecutionDisabled"})
    connection_.Call(method, method[0] == 'F' ? kEveryRequest : "{\"value\":true}", session_, handler);
  connection_.Call("Page.enable", "{}", session_, handler);
  connection_.Call("Inspector.enable", "{}", session_, handler);
  opened_ = true;
}

void PageRun::StartOpen() {
  step_ = 1;
  waiting_ = {connection_.Send("Target.createBrowserContext", "{\"disposeOnDetach\":true}")};
}

void PageRun::Follow(const JsonValue& message) {
  const std::optional<int64_t> id = message["id"].Whole();
  if (!id || *id < 0 || *id > INT32_MAX || !waiting_.erase(int(*id))) return;
  if (message["error"].GetKind() != JsonValue::Kind::Null)
    throw Stop{kDriverEngine, std::string(opened_ ? "the engine refused to draw the page: " : "the engine refused to open a page: ") +
                                  message["error"]["message"].Text()};
  if (opened_) {
    if (*id == navigate_) {
      navigated_ = true;
      noLoad_ = !message["result"]["errorText"].Text().empty();
    } else if (*id == capture_) {
      if (message["result"]["screenshotData"].GetKind() == JsonValue::Kind::Null) {
        StartCapture();
        return;
      }
      if (!Base64Decode(message["result"]["screenshotData"].Text(), picture_) || picture_.empty())
        throw Stop{kDriverEngine, "the engine's screenshot is no PNG"};
      captured_ = true;
    }
    return;
  }
  const JsonValue& result = message["result"];
  if (step_ == 1) {
    context_ = result["browserContextId"].Text();
    if (context_.empty()) throw Stop{kDriverEngine, "the engine made no browser context"};
    waiting_ = {connection_.Send("Target.createTarget", BlankPageIn(context_))};
  } else if (step_ == 2) {
    target_ = result["targetId"].Text();
    if (target_.empty()) throw Stop{kDriverEngine, "the engine made no page"};
    waiting_ = {connection_.Send("Target.attachToTarget", "{\"targetId\":" + JsonString(target_) + ",\"flatten\":true}")};
  } else if (step_ == 3) {
    session_ = result["sessionId"].Text();
    if (session_.empty()) throw Stop{kDriverEngine, "the engine gave no session for the page"};
    sessions_.insert(session_);
    // The same commands as Open's, in the same order: the engine runs a session's commands in turn.
    waiting_ = {
        connection_.Send("Target.setAutoAttach",
                         "{\"autoAttach\":true,\"waitForDebuggerOnStart\":true,\"flatten\":true}", session_),
        connection_.Send("Fetch.enable", kEveryRequest, session_),
        connection_.Send("Emulation.setScriptExecutionDisabled", "{\"value\":true}", session_),
        connection_.Send("Page.enable", "{}", session_),
        connection_.Send("Inspector.enable", "{}", session_),
    };
  }
  if (step_ < 4) {
    ++step_;
  } else if (waiting_.empty()) {
    opened_ = true;
  }
}

bool PageRun::Navigate(const std::string& page, const PageScope& scope, int width, int height) {
  auto handler = [this](const JsonValue& message) { Handle(message); };
  scope_ = scope;
  connection_.Call("Emulation.setDeviceMetricsOverride",
                   "{\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height) +
                       ",\"deviceScaleFactor\":1,\"mobile\":false}",
                   session_, handler);
  const JsonValue navigation =
      connection_.Call("Page.navigate", "{\"url\":" + JsonString(FileUrl(page)) + "}", session_, handler);
  return navigation["errorText"].Text().empty();
}

void PageRun::StartDraw(const std::string& page, const PageScope& scope, int width, int height) {
  scope_ = scope;
  // A session's commands run in turn: the viewport is set before the page loads.
  waiting_.insert(connection_.Send("Emulation.setDeviceMetricsOverride",
                                   "{\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height) +
                                       ",\"deviceScaleFactor\":1,\"mobile\":false}",
                                   session_));
  navigate_ = connection_.Send("Page.navigate", "{\"url\":" + JsonString(FileUrl(page)) + "}", session_);
  waiting_.insert(navigate_);
}

// The page draws only when asked (its target was made with begin-frame control): one frame, drawn
// with every stage and taken as it is drawn, which spares the wait for the next regular frame and a
// second drawing. The engine may give a frame without a picture (while the renderer starts, or with
// nothing new to draw), so a few frames are asked for.
void PageRun::StartCapture() {
  if (++frames_ > kMaxFrames) throw Stop{kDriverEngine, "the engine drew no picture of the page"};
  capture_ = connection_.Send("HeadlessExperimental.beginFrame", kFrameWithPicture, session_);
  waiting_.insert(capture_);
}

void PageRun::WaitLoaded() {
  while (!loaded_) Handle(connection_.Next());
}

std::string PageRun::Capture() {
  StartCapture();
  while (!captured_) {
    const JsonValue message = connection_.Next();
    Follow(message);
    Handle(message);
  }
  return std::move(picture_);
}

void PageRun::Handle(const JsonValue& message) {
  const std::string& from = message["sessionId"].Text();
  if (!from.empty() && !sessions_.count(from)) return;
  const std::string& method = message["method"].Text();
  const JsonValue& params = message["params"];
  if (method == "Page.loadEventFired") {
    if (message["sessionId"].Text() == session_) loaded_ = true;
  } else if (method == "Fetch.requestPaused") {
    Answer(message["sessionId"].Text(), params);
  } else if (method == "Target.attachedToTarget") {
    // A frame of the page in a process of its own, paused until it has our rules.
    const std::string child = params["sessionId"].Text();
    sessions_.insert(child);
    connection_.Send("Fetch.enable", kEveryRequest, child);
    connection_.Send("Emulation.setScriptExecutionDisabled", "{\"value\":true}", child);
    connection_.Send("Runtime.runIfWaitingForDebugger", "{}", child);
  } else if (!session_.empty() &&
             ((method == "Target.detachedFromTarget" && params["sessionId"].Text() == session_) ||
              ((method == "Target.targetDestroyed" || method == "Target.targetCrashed") &&
               params["targetId"].Text() == target_) ||
              ((method == "Inspector.detached" || method == "Inspector.targetCrashed") &&
               message["sessionId"].Text() == session_))) {
    // The page's session ended: no reply will come, answer now.
    throw Stop{kDriverEngine, "the page's session ended (" + method + ")"};
  }
}

// The answer comes from the request rules (request_answer.h); the page keeps what they refused.
void PageRun::Answer(const std::string& session, const JsonValue& params) {
  RequestReply reply = AnswerRequest(params, scope_, framesWithDocument_);
  if (reply.refusal) refusals_.Add(std::move(*reply.refusal));
  connection_.Send(reply.method, reply.params, session);
}

}  // namespace wine_extractor
