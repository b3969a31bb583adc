// The Linux side of a render: starts the browser engine with its DevTools pipe, lets the untrusted
// page load only files of its own folder, keeps its scripts off, and writes the viewport as a PNG.
// Run by the render script under `timeout`, which ends it and the engine together.
//
// Usage: zelnar-page-driver ENGINE WIDTH HEIGHT PAGE OUT.png [ENGINE-OPTION...]
// Exit status: 0 picture written, 2 usage, 3 the page did not load, 4 the engine failed or broke
// the protocol, 5 the picture could not be written.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/browser_extractor/base64.h"
#include "tools/browser_extractor/engine_job.h"
#include "tools/browser_extractor/json_value.h"
#include "tools/browser_extractor/request_policy.h"

namespace {

using browser::JsonString;
using browser::JsonValue;

enum Exit { kOk = 0, kUsage = 2, kNoLoad = 3, kEngine = 4, kWrite = 5 };

struct Stop {
  Exit code;
};

class Engine {
 public:
  Engine(const std::string& program, const std::vector<std::string>& arguments) {
    int commands[2], events[2];
    if (pipe(commands) != 0 || pipe(events) != 0) throw Stop{kEngine};
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
      char chunk[65536];
      const ssize_t n = read(from_, chunk, sizeof chunk);
      if (n <= 0) throw Stop{kEngine};  // the engine ended or closed its pipe
      buffer_.append(chunk, size_t(n));
    }
  }

  // Asks the engine to close and waits for it.
  void Close() {
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  std::string buffer_;
};

class Session {
 public:
  Session(Engine& engine, std::string folder) : engine_(engine), folder_(std::move(folder)) {}

  // Sends a command and answers events until its reply arrives; the reply's "result".
  JsonValue Call(const std::string& method, const std::string& params = "{}") {
    const int id = Send(method, params);
    for (;;) {
      JsonValue message = engine_.Read();
      if (message["id"].Number() == id) {
        if (message["error"].GetKind() != JsonValue::Kind::Null) throw Stop{kEngine};
        return message["result"];
      }
      Handle(message);
    }
  }

  // Answers events until the page's load event.
  void WaitForLoad() {
    while (!loaded_) Handle(engine_.Read());
  }

  void SetTarget(const std::string& session) { session_ = session; }
  void ForgetLoad() { loaded_ = false; }

 private:
  int Send(const std::string& method, const std::string& params) {
    const int id = ++lastId_;
    std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + JsonString(method) + ",\"params\":" + params;
    if (!session_.empty()) message += ",\"sessionId\":" + JsonString(session_);
    engine_.Write(message + "}");
    return id;
  }

  void Handle(const JsonValue& message) {
    const std::string& method = message["method"].Text();
    if (method == "Page.loadEventFired") {
      loaded_ = true;
    } else if (method == "Fetch.requestPaused") {
      const JsonValue& params = message["params"];
      const std::string id = JsonString(params["requestId"].Text());
      if (browser::RequestAllowed(params["request"]["url"].Text(), folder_))
        Send("Fetch.continueRequest", "{\"requestId\":" + id + "}");
      else
        Send("Fetch.failRequest", "{\"requestId\":" + id + ",\"errorReason\":\"BlockedByClient\"}");
    }
  }

  Engine& engine_;
  std::string folder_;
  std::string session_;
  int lastId_ = 0;
  bool loaded_ = false;
};

int Run(int argc, char** argv) {
  if (argc < 6) return kUsage;
  const std::string engineProgram = argv[1];
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  const std::string page = argv[4];
  const std::string out = argv[5];
  const size_t slash = page.rfind('/');
  if (width <= 0 || height <= 0 || page.empty() || page[0] != '/' || slash == std::string::npos) return kUsage;
  const std::string folder = page.substr(0, slash);

  std::vector<std::string> arguments = {"--headless", "--remote-debugging-pipe", "--hide-scrollbars",
                                        "--force-device-scale-factor=1",
                                        "--window-size=" + std::to_string(width) + "," + std::to_string(height)};
  for (int i = 6; i < argc; ++i) arguments.push_back(argv[i]);
  arguments.push_back("about:blank");

  Engine engine(engineProgram, arguments);
  Session session(engine, folder);
  const std::string target =
      session.Call("Target.createTarget", "{\"url\":\"about:blank\"}")["targetId"].Text();
  const std::string sessionId =
      session.Call("Target.attachToTarget", "{\"targetId\":" + JsonString(target) + ",\"flatten\":true}")["sessionId"]
          .Text();
  if (target.empty() || sessionId.empty()) return kEngine;
  session.SetTarget(sessionId);
  // Every request stops at the policy first, the page's own included.
  session.Call("Fetch.enable", "{\"patterns\":[{\"urlPattern\":\"*\"}]}");
  session.Call("Page.enable");
  session.Call("Emulation.setScriptExecutionDisabled", "{\"value\":true}");
  session.Call("Emulation.setDeviceMetricsOverride", "{\"width\":" + std::to_string(width) + ",\"height\":" +
                                                         std::to_string(height) +
                                                         ",\"deviceScaleFactor\":1,\"mobile\":false}");
  session.ForgetLoad();
  const JsonValue navigation = session.Call("Page.navigate", "{\"url\":" + JsonString(browser::FileUrl(page)) + "}");
  if (!navigation["errorText"].Text().empty()) return kNoLoad;
  session.WaitForLoad();
  const JsonValue shot = session.Call("Page.captureScreenshot", "{\"format\":\"png\"}");
  std::string png;
  if (!browser::Base64Decode(shot["data"].Text(), png) || png.empty()) return kEngine;
  session.SetTarget("");
  session.Call("Browser.close");
  engine.Close();

  FILE* file = std::fopen(out.c_str(), "wb");
  if (!file) return kWrite;
  const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  if (std::fclose(file) != 0 || !written) return kWrite;
  return kOk;
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
