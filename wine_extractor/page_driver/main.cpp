// The Linux side of the browser-backed extractor: the page service, which starts the browser engine
// with its DevTools pipe, hands each untrusted page only the files the request rules allow, keeps its
// scripts off, and writes the viewport as a PNG.
//
// Usage: zelnar-page-driver --spool NAME
//   Makes the spool NAME in the meeting folder (meeting_place.h) and prints its path; 1 and why not
//   on standard error when a folder on the way fails.
// Usage: zelnar-page-driver --serve NAME ENGINE IDLE-MS FIRST [ENGINE-OPTION...]
//   The page service for the pages put into the spool NAME (page_service.h), which it makes and
//   opens as --spool does, putting the file FIRST (the starting host's sign of life; "" for none)
//   into it before anything else; drawing as many pages at once as ZELNAR_BROWSER_PARALLEL says,
//   else one at a time. IDLE-MS 0: it ends as soon as no page waits. Exit status 0, 1 and why on
//   standard error when a folder on the way fails, or 2 for a usage error.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/meeting_place.h"
#include "wine_extractor/page_driver/page_service.h"
#include "wine_extractor/protocol/driver_status.h"
#include "wine_extractor/protocol/engine_settings.h"

namespace {

using namespace wine_extractor;

// How often the spool is made again when an ending service removed it just after it was made.
constexpr int kSpoolTries = 5;

std::vector<std::string> EngineArguments(char** options, int count) {
  // Pages draw only when the driver asks (see PageRun::StartCapture). The network service, which
  // pages reach only to be refused, runs inside the browser process: one process less to keep.
  std::vector<std::string> arguments = {"--headless", "--remote-debugging-pipe", "--hide-scrollbars",
                                        "--force-device-scale-factor=1", "--deterministic-mode",
                                        "--enable-features=NetworkServiceInProcess2"};
  // The engine cannot start its sandbox as root.
  if (geteuid() == 0) arguments.push_back("--no-sandbox");
  for (int i = 0; i < count; ++i) arguments.push_back(options[i]);
  arguments.push_back("about:blank");
  return arguments;
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

int Spool(int argc, char** argv) {
  if (argc != 3) return kDriverUsage;
  const SpoolPlace place =
      MakeSpool(argv[2], Variable("XDG_RUNTIME_DIR"), Variable("XDG_CACHE_HOME"), Variable("HOME"));
  if (place.path.empty()) {
    std::fprintf(stderr, "zelnar-page-driver: the page service's folder: %s\n", place.wrong.c_str());
    return 1;
  }
  std::printf("%s\n", place.path.c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// The spool, opened, with the file `first` in it; what was wrong goes to standard error.
std::optional<OpenedSpool> OpenWithFirst(const std::string& name, const std::string& first) {
  for (int attempt = 0; attempt < kSpoolTries; ++attempt) {
    OpenedSpool opened =
        OpenSpool(name, Variable("XDG_RUNTIME_DIR"), Variable("XDG_CACHE_HOME"), Variable("HOME"));
    if (!opened.wrong.empty()) {
      std::fprintf(stderr, "zelnar-page-driver: the page service's folder: %s\n", opened.wrong.c_str());
      return std::nullopt;
    }
    struct stat info;
    if (fstat(opened.spool.Get(), &info) != 0) continue;
    if (!first.empty()) {
      const int fd = openat(opened.spool.Get(), first.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0) continue;
      close(fd);
    }
    if (StillThere(opened.meeting.Last(), opened.name, info)) return opened;
  }
  std::fprintf(stderr, "zelnar-page-driver: the page service's folder: %s keeps going away\n", name.c_str());
  return std::nullopt;
}

int Serve(int argc, char** argv) {
  if (argc < 6) return kDriverUsage;
  const std::string first = argv[5];
  if (first == "." || first == ".." || first.find('/') != std::string::npos) return kDriverUsage;
  std::optional<OpenedSpool> opened = OpenWithFirst(argv[2], first);
  if (!opened) return 1;
  // From here on the service holds nothing of the host that started it.
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, 2);
    close(null);
  }
  // The engine inherits these: the spool's path marks its processes as the service's, and Latin
  // text is drawn in a Latin face whatever the locale Wine runs in.
  setenv("ZELNAR_BROWSER_RUN", opened->path.c_str(), 1);
  setenv("LANG", "C.UTF-8", 1);
  unsetenv("LC_ALL");
  unsetenv("LANGUAGE");
  const std::string idleText = argv[4];
  const uint32_t idleMs = idleText == "0" ? 0 : ParseSetting(idleText, kMaxIdleMs, kDefaultIdleMs);
  const char* parallelText = std::getenv(kServiceParallelVariable);
  const uint32_t parallel = ParseSetting(parallelText ? parallelText : "", kMaxParallel, kDefaultParallel);
  return RunService(std::move(*opened), argv[3], EngineArguments(argv + 6, argc - 6), idleMs, parallel);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);  // a vanished engine shows as a failed write, not as a killed driver
  try {
    if (argc > 1 && std::string(argv[1]) == "--serve") return Serve(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--spool") return Spool(argc, argv);
    std::fprintf(stderr, "usage: zelnar-page-driver --serve NAME ENGINE IDLE-MS FIRST [ENGINE-OPTION...] | --spool NAME\n");
    return kDriverUsage;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "zelnar-page-driver: %s\n", failure.what());
    return kDriverEngine;
  }
}
