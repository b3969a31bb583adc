// The Linux side of a render: starts the browser engine with its DevTools pipe, hands the untrusted
// page only the files the request rules allow, keeps its scripts off, and writes the viewport as a PNG.
//
// Usage: zelnar-page-driver ENGINE WIDTH HEIGHT PAGE OUT.png [ENGINE-OPTION...]
//   One page, run by the render script under `timeout`, which ends it and the engine together. The
//   memory ceiling of the engine's processes comes from ZELNAR_BROWSER_MEMORY_LIMIT_MB, the strict
//   folder rule from ZELNAR_BROWSER_STRICT_FOLDER=1. Exit status:
//   0 picture written, 2 usage, 3 the page did not load, 4 the engine failed, broke the protocol or
//   closed the page, 5 the picture could not be written, 6 the engine went over its memory ceiling,
//   7 the page is a link to a file outside its folder.
// Usage: zelnar-page-driver --serve SPOOL ENGINE IDLE-MS [ENGINE-OPTION...]
//   The page service for the pages put into SPOOL (page_service.h), drawing as many pages at once as
//   ZELNAR_BROWSER_PARALLEL says, else one at a time.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/devtools.h"
#include "wine_extractor/protocol/engine_job.h"
#include "wine_extractor/protocol/engine_settings.h"
#include "wine_extractor/page_driver/page_service.h"

namespace {

using namespace wine_extractor;

std::vector<std::string> EngineArguments(char** options, int count) {
  // Pages draw only when the driver asks (see PageRun::StartCapture).
  std::vector<std::string> arguments = {"--headless", "--remote-debugging-pipe", "--hide-scrollbars",
                                        "--force-device-scale-factor=1", "--deterministic-mode"};
  for (int i = 0; i < count; ++i) arguments.push_back(options[i]);
  arguments.push_back("about:blank");
  return arguments;
}

// Says why the page failed on standard error, with the end of what the engine said.
void Explain(const std::string& why) {
  std::fprintf(stderr, "zelnar-page-driver: %s\n", why.c_str());
  // With the line above, within the first kilobyte the extractor reads.
  const std::string said = EngineLogTail(640);
  if (!said.empty()) std::fprintf(stderr, "the engine said: %s\n", said.c_str());
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

int RenderOnce(int argc, char** argv) {
  if (argc < 6) return kDriverUsage;
  const std::string engineProgram = argv[1];
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  const std::string page = argv[4];
  const std::string out = argv[5];
  if (width <= 0 || height <= 0 || page.empty() || page[0] != '/') return kDriverUsage;
  std::optional<PageScope> scope = ScopeOfPage(page, RealPath);
  if (!scope) return kDriverRefused;
  const char* strict = std::getenv(kDriverStrictVariable);
  scope->strict = strict && std::string(strict) == "1";
  const char* ceilingText = std::getenv(kDriverMemoryVariable);
  const uint64_t ceiling = uint64_t(ParseSetting(ceilingText ? ceilingText : "", kMaxMemoryLimitMb,
                                                 kDefaultMemoryLimitMb))
                           << 20;

  std::vector<std::string> arguments = EngineArguments(argv + 6, argc - 6);
  arguments.insert(arguments.end() - 1, "--window-size=" + std::to_string(width) + "," + std::to_string(height));
  Engine engine(engineProgram, arguments, false, EngineLogPath());
  auto checkMemory = [&] { engine.CheckMemory(ceiling); };
  engine.SetWatch(checkMemory);
  Connection connection(engine);
  connection.Call("Target.setDiscoverTargets", "{\"discover\":true}", "", [](const JsonValue&) {});
  PageRun run(connection);
  run.Open();
  if (!run.Load(page, *scope, width, height)) return kDriverNoLoad;
  // However fast the page loaded, it is measured once before it may give a picture.
  checkMemory();
  // The engine is not asked to close: the render script ends its whole process group at once.
  return WriteFile(out, run.Capture()) ? kDriverOk : kDriverWrite;
}

int Serve(int argc, char** argv) {
  if (argc < 5) return kDriverUsage;
  const uint32_t idleMs = ParseSetting(argv[4], kMaxIdleMs, kDefaultIdleMs);
  const char* parallelText = std::getenv(kServiceParallelVariable);
  const uint32_t parallel = ParseSetting(parallelText ? parallelText : "", kMaxParallel, kDefaultParallel);
  return RunService(argv[2], argv[3], EngineArguments(argv + 5, argc - 5), idleMs, parallel);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);  // a vanished engine shows as a failed write, not as a killed driver
  try {
    if (argc > 1 && std::string(argv[1]) == "--serve") return Serve(argc, argv);
    return RenderOnce(argc, argv);
  } catch (const Stop& stop) {
    Explain(stop.why);
    return stop.code;
  } catch (...) {
    Explain("the driver failed");
    return kDriverEngine;
  }
}
