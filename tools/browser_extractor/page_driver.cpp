// The Linux side of a render: starts the browser engine with its DevTools pipe, lets the untrusted
// page load only files of its own folder, keeps its scripts off, and writes the viewport as a PNG.
// Run by the render script under `timeout`, which ends it and the engine together.
//
// Usage: zelnar-page-driver ENGINE WIDTH HEIGHT PAGE OUT.png [ENGINE-OPTION...]
// The memory ceiling of the engine's process tree comes from ZELNAR_BROWSER_MEMORY_LIMIT_MB.
// Exit status: 0 picture written, 2 usage, 3 the page did not load, 4 the engine failed, broke the
// protocol or closed the page, 5 the picture could not be written, 6 the engine went over its memory
// ceiling, 7 the page is a link to a file outside its folder.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tools/browser_extractor/base64.h"
#include "tools/browser_extractor/engine_job.h"
#include "tools/browser_extractor/engine_settings.h"
#include "tools/browser_extractor/json_value.h"
#include "tools/browser_extractor/proc_stat.h"
#include "tools/browser_extractor/request_policy.h"

namespace {

using browser::JsonString;
using browser::JsonValue;

enum Exit { kOk = 0, kUsage = 2, kNoLoad = 3, kEngine = 4, kWrite = 5, kMemory = 6, kRefused = 7 };
static_assert(kNoLoad == browser::kPageDidNotLoadStatus && kMemory == browser::kOverMemoryStatus &&
              kRefused == browser::kRefusedStatus);

struct Stop {
  Exit code;
};

// How often the engine's memory is measured while it works: a page that grows by 150 MB a second
// overshoots the ceiling by 15 MB at most.
constexpr int kSampleMs = 100;

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

class Engine {
 public:
  Engine(const std::string& program, const std::vector<std::string>& arguments, uint64_t memoryLimitBytes)
      : memoryLimit_(memoryLimitBytes) {
    int commands[2], events[2];
    if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(events, O_CLOEXEC) != 0) throw Stop{kEngine};
    pid_ = fork();
    if (pid_ < 0) throw Stop{kEngine};
    if (pid_ == 0) {
      // The engine reads commands on descriptor 3 and writes answers on 4.
      const int in = fcntl(commands[0], F_DUPFD, 10);
      const int out = fcntl(events[1], F_DUPFD, 10);
      if (in < 0 || out < 0 || dup2(in, 3) != 3 || dup2(out, 4) != 4) _exit(127);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      // The engine gets its pipe and nothing else of ours.
      for (int fd = 5; fd < 1024; ++fd) close(fd);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(commands[0]);
    close(events[1]);
    to_ = commands[1];
    from_ = events[0];
  }
  ~Engine() {
    close(to_);
    close(from_);
    if (pid_ > 0) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  void Write(const std::string& message) {
    const std::string framed = message + '\0';
    for (size_t done = 0; done < framed.size();) {
      const ssize_t n = write(to_, framed.data() + done, framed.size() - done);
      if (n <= 0) throw Stop{kEngine};
      done += size_t(n);
    }
  }

  // The next message; measures the engine's memory while it waits.
  JsonValue Read() {
    for (;;) {
      const size_t end = buffer_.find('\0');
      if (end != std::string::npos) {
        const std::string message = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        std::optional<JsonValue> value = JsonValue::Parse(message);
        if (!value) throw Stop{kEngine};
        return *value;
      }
      if (NowMs() >= nextSample_) CheckMemory();
      pollfd ready{from_, POLLIN, 0};
      const int waitMs = int(std::max<int64_t>(0, nextSample_ - NowMs()));
      if (poll(&ready, 1, waitMs) <= 0) continue;
      char chunk[65536];
      const ssize_t n = read(from_, chunk, sizeof chunk);
      if (n <= 0) throw Stop{kEngine};  // the engine ended or closed its pipe
      buffer_.append(chunk, size_t(n));
    }
  }

  // The engine's whole process tree (it stays in our process group) against the ceiling. The
  // engine reserves far more address space than it uses, so only resident memory counts.
  void CheckMemory() {
    nextSample_ = NowMs() + kSampleMs;
    if (browser::GroupResidentBytes(getpgrp()) > memoryLimit_) {
      kill(pid_, SIGKILL);
      throw Stop{kMemory};
    }
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  std::string buffer_;
  uint64_t memoryLimit_;
  int64_t nextSample_ = 0;
};

// Commands to the engine and its replies; events go to whoever is listening.
class Connection {
 public:
  explicit Connection(Engine& engine) : engine_(engine) {}

  int Send(const std::string& method, const std::string& params = "{}", const std::string& session = "") {
    const int id = ++lastId_;
    std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + JsonString(method) + ",\"params\":" + params;
    if (!session.empty()) message += ",\"sessionId\":" + JsonString(session);
    engine_.Write(message + "}");
    return id;
  }

  // Sends a command and hands events to `onEvent` until its reply arrives; the reply's "result".
  JsonValue Call(const std::string& method, const std::string& params, const std::string& session,
                 const std::function<void(const JsonValue&)>& onEvent) {
    const int id = Send(method, params, session);
    for (;;) {
      JsonValue message = engine_.Read();
      if (message["id"].Number() == id) {
        if (message["error"].GetKind() != JsonValue::Kind::Null) throw Stop{kEngine};
        return message["result"];
      }
      onEvent(message);
    }
  }

  JsonValue Next() { return engine_.Read(); }

 private:
  Engine& engine_;
  int lastId_ = 0;
};

// One page in its own browser context: the requests it makes, the navigations it tries and the
// ways its session can end.
class PageRun {
 public:
  PageRun(Connection& connection, browser::PageScope scope) : connection_(connection), scope_(std::move(scope)) {}

  void Open(int width, int height) {
    auto handler = [this](const JsonValue& message) { Handle(message); };
    context_ = connection_.Call("Target.createBrowserContext", "{\"disposeOnDetach\":true}", "", handler)
                   ["browserContextId"].Text();
    target_ = connection_.Call("Target.createTarget",
                               "{\"url\":\"about:blank\",\"browserContextId\":" + JsonString(context_) + "}", "",
                               handler)["targetId"].Text();
    session_ = connection_.Call("Target.attachToTarget", "{\"targetId\":" + JsonString(target_) + ",\"flatten\":true}",
                                "", handler)["sessionId"].Text();
    if (context_.empty() || target_.empty() || session_.empty()) throw Stop{kEngine};
    // Frames the engine puts in processes of their own get the same rules before they run.
    connection_.Call("Target.setAutoAttach",
                     "{\"autoAttach\":true,\"waitForDebuggerOnStart\":true,\"flatten\":true}", session_, handler);
    Prepare(session_, handler);
    connection_.Call("Page.enable", "{}", session_, handler);
    connection_.Call("Inspector.enable", "{}", session_, handler);
    connection_.Call("Emulation.setDeviceMetricsOverride",
                     "{\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height) +
                         ",\"deviceScaleFactor\":1,\"mobile\":false}",
                     session_, handler);
  }

  // Loads the page; false when the engine refused to.
  bool Load(const std::string& page) {
    auto handler = [this](const JsonValue& message) { Handle(message); };
    const JsonValue navigation =
        connection_.Call("Page.navigate", "{\"url\":" + JsonString(browser::FileUrl(page)) + "}", session_, handler);
    if (!navigation["errorText"].Text().empty()) return false;
    while (!loaded_) Handle(connection_.Next());
    return true;
  }

  std::string Capture() {
    auto handler = [this](const JsonValue& message) { Handle(message); };
    // Speed over size: the file lives for a moment and is read once.
    const JsonValue shot =
        connection_.Call("Page.captureScreenshot", "{\"format\":\"png\",\"optimizeForSpeed\":true}", session_, handler);
    std::string png;
    if (!browser::Base64Decode(shot["data"].Text(), png) || png.empty()) throw Stop{kEngine};
    return png;
  }

 private:
  // Every request stops at the policy first, the page's own included; scripts stay off.
  void Prepare(const std::string& session, const std::function<void(const JsonValue&)>& handler) {
    connection_.Call("Fetch.enable", "{\"patterns\":[{\"urlPattern\":\"*\"}]}", session, handler);
    connection_.Call("Emulation.setScriptExecutionDisabled", "{\"value\":true}", session, handler);
  }

  void Handle(const JsonValue& message) {
    const std::string& method = message["method"].Text();
    const JsonValue& params = message["params"];
    if (method == "Page.loadEventFired") {
      if (message["sessionId"].Text() == session_) loaded_ = true;
    } else if (method == "Fetch.requestPaused") {
      Answer(message["sessionId"].Text(), params);
    } else if (method == "Target.attachedToTarget") {
      // A frame of the page in a process of its own, paused until it has our rules.
      const std::string child = params["sessionId"].Text();
      connection_.Send("Fetch.enable", "{\"patterns\":[{\"urlPattern\":\"*\"}]}", child);
      connection_.Send("Emulation.setScriptExecutionDisabled", "{\"value\":true}", child);
      connection_.Send("Runtime.runIfWaitingForDebugger", "{}", child);
    } else if ((method == "Target.detachedFromTarget" && params["sessionId"].Text() == session_) ||
               ((method == "Target.targetDestroyed" || method == "Target.targetCrashed") &&
                params["targetId"].Text() == target_) ||
               ((method == "Inspector.detached" || method == "Inspector.targetCrashed") &&
                message["sessionId"].Text() == session_)) {
      // The page's session ended: no reply will come, answer now.
      throw Stop{kEngine};
    }
  }

  // A frame gets its first document, if the policy allows it; any later navigation of that frame
  // (a refresh, a redirect, a link aimed at it) is answered "no content", which leaves the frame
  // as it is: the page first loaded is the one drawn, and a page that keeps navigating cannot
  // keep the load from ending.
  void Answer(const std::string& session, const JsonValue& params) {
    const std::string id = JsonString(params["requestId"].Text());
    if (params["resourceType"].Text() == "Document" && !framesWithDocument_.insert(params["frameId"].Text()).second) {
      connection_.Send("Fetch.fulfillRequest", "{\"requestId\":" + id + ",\"responseCode\":204}", session);
    } else if (browser::RequestAllowed(params["request"]["url"].Text(), scope_, browser::RealPath)) {
      connection_.Send("Fetch.continueRequest", "{\"requestId\":" + id + "}", session);
    } else {
      connection_.Send("Fetch.failRequest", "{\"requestId\":" + id + ",\"errorReason\":\"BlockedByClient\"}", session);
    }
  }

  Connection& connection_;
  browser::PageScope scope_;
  std::string context_, target_, session_;
  std::set<std::string> framesWithDocument_;
  bool loaded_ = false;
};

bool WriteFile(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

uint64_t MemoryLimitBytes() {
  const char* text = std::getenv(browser::kDriverMemoryVariable);
  return uint64_t(browser::ParseSetting(text ? text : "", browser::kMaxMemoryLimitMb, browser::kDefaultMemoryLimitMb))
         << 20;
}

int Run(int argc, char** argv) {
  if (argc < 6) return kUsage;
  const std::string engineProgram = argv[1];
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  const std::string page = argv[4];
  const std::string out = argv[5];
  if (width <= 0 || height <= 0 || page.empty() || page[0] != '/') return kUsage;
  std::optional<browser::PageScope> scope = browser::ScopeOfPage(page, browser::RealPath);
  if (!scope) return kRefused;

  std::vector<std::string> arguments = {"--headless", "--remote-debugging-pipe", "--hide-scrollbars",
                                        "--force-device-scale-factor=1",
                                        "--window-size=" + std::to_string(width) + "," + std::to_string(height)};
  for (int i = 6; i < argc; ++i) arguments.push_back(argv[i]);
  arguments.push_back("about:blank");

  Engine engine(engineProgram, arguments, MemoryLimitBytes());
  Connection connection(engine);
  auto ignore = [](const JsonValue&) {};
  connection.Call("Target.setDiscoverTargets", "{\"discover\":true}", "", ignore);
  PageRun run(connection, *scope);
  run.Open(width, height);
  if (!run.Load(page)) return kNoLoad;
  // However fast the page loaded, it is measured once before it may give a picture.
  engine.CheckMemory();
  const std::string png = run.Capture();
  // The engine is not asked to close: the render script ends its whole process group at once.
  return WriteFile(out, png) ? kOk : kWrite;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);  // a vanished engine shows as a failed write, not as a killed driver
  try {
    return Run(argc, argv);
  } catch (const Stop& stop) {
    return stop.code;
  } catch (...) {
    return kEngine;
  }
}
