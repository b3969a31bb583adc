// The Linux side of the browser-backed extractor: the page service, which starts the browser engine
// with its DevTools pipe, hands each untrusted page only the files the request rules allow, keeps its
// scripts off, and writes the viewport as a PNG.
//
// Usage: zelnar-page-driver --spool NAME
//   Makes the spool NAME in the meeting folder (meeting_place.h) and prints its path; 1 and why not
//   on standard error when a folder on the way fails.
// Usage: zelnar-page-driver --serve SPOOL ENGINE IDLE-MS [ENGINE-OPTION...]
//   The page service for the pages put into SPOOL (page_service.h), drawing as many pages at once as
//   ZELNAR_BROWSER_PARALLEL says, else one at a time. IDLE-MS 0: it ends as soon as no page waits.
//   Exit status 0, or 2 for a usage error.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/meeting_place.h"
#include "wine_extractor/page_driver/page_service.h"
#include "wine_extractor/protocol/driver_status.h"
#include "wine_extractor/protocol/engine_settings.h"

namespace {

using namespace wine_extractor;

std::vector<std::string> EngineArguments(char** options, int count) {
  // Pages draw only when the driver asks (see PageRun::StartCapture). The network service, which
  // pages reach only to be refused, runs inside the browser process: one process less to keep.
  std::vector<std::string> arguments = {"--headless", "--remote-debugging-pipe", "--hide-scrollbars",
                                        "--force-device-scale-factor=1", "--deterministic-mode",
                                        "--enable-features=NetworkServiceInProcess2"};
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

int Serve(int argc, char** argv) {
  if (argc < 5) return kDriverUsage;
  const std::string idleText = argv[4];
  const uint32_t idleMs = idleText == "0" ? 0 : ParseSetting(idleText, kMaxIdleMs, kDefaultIdleMs);
  const char* parallelText = std::getenv(kServiceParallelVariable);
  const uint32_t parallel = ParseSetting(parallelText ? parallelText : "", kMaxParallel, kDefaultParallel);
  return RunService(argv[2], argv[3], EngineArguments(argv + 5, argc - 5), idleMs, parallel);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);  // a vanished engine shows as a failed write, not as a killed driver
  try {
    if (argc > 1 && std::string(argv[1]) == "--serve") return Serve(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--spool") return Spool(argc, argv);
    std::fprintf(stderr, "usage: zelnar-page-driver --serve SPOOL ENGINE IDLE-MS [ENGINE-OPTION...] | --spool NAME\n");
    return kDriverUsage;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "zelnar-page-driver: %s\n", failure.what());
    return kDriverEngine;
  }
}
