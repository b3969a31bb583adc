// GetPicture through the real plug-in with the browser-backed extractor registered, against the
// engine's one-shot screenshot command on the same page at the same size. The two sides run
// interleaved in this one process, their order alternating from pair to pair, so a busy machine
// shifts both alike; it prints the median ratio of the pairs and its range.
//
// Usage: browser_bench PLUGIN MODE PAGES PAIRS WIDTH HEIGHT
//   PAGES is a Windows folder of .html pages; the engine is /usr/bin/chromium-headless-shell.
//   MODE oneshot: a page service that ends as soon as it has no page (ZELNAR_BROWSER_KEEP_ALIVE=0),
//     the first page, PAIRS pairs, each after the service ended.
//   MODE first: the kept-alive engine's first picture, its service's start included: PAIRS pairs,
//     each after the service ended.
//   MODE series: every picture after the first of one host process going through all pages with the
//     kept-alive engine (one pair per page); then the same pages back to back, for comparison.
//   MODE hosts: four host processes drawing 5 pages each at the same moment against one host drawing
//     20, with the kept-alive engine running, each host's pages in a folder of its own (PAGES\hosts\h0
//     for the one, h1 to h4 for the four, copies of PAGES' first page): PAIRS pairs, the order
//     alternating, every picture checked against the first page's, with how busy the machine's
//     processors were meanwhile; then the page service's proportional set size idle and while four
//     hosts draw.
//   MODE host FOLDER COUNT ... HASH (internal): a host process of `hosts`, drawing COUNT pages of FOLDER
//     once the parent says go, each of which must give the picture whose hash is HASH.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/linux_shell.h"
#include "tests/support/settings_key.h"
#include "wine_extractor/com_server/failure.h"
#include "wine_extractor/com_server/windows_file.h"
#include "wine_extractor/com_server/wine_paths.h"
#include "wine_extractor/protocol/meeting_folder.h"

namespace {

using GetPictureFn = int(__stdcall*)(const char*, LONG_PTR, unsigned int, HLOCAL*, HLOCAL*, void*, LONG_PTR);

double NowMs() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * double(counter.QuadPart) / double(frequency.QuadPart);
}

std::string UnixPath(const std::string& windowsPath) {
  try {
    return wine_extractor::UnixPath(std::wstring(windowsPath.begin(), windowsPath.end()));
  } catch (const wine_extractor::Failure&) {
    return "";
  }
}

// The machine's processor time since boot, busy and in all, in ticks (the first line of /proc/stat):
// how busy the engine keeps the machine bounds what drawing side by side can gain.
struct ProcessorTime {
  double busy = 0, all = 0;
};
ProcessorTime ReadProcessorTime() {
  std::wstring path;
  try {
    path = wine_extractor::WindowsPath("/proc/stat");
  } catch (const wine_extractor::Failure&) {
    return {};
  }
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  char text[512] = {};
  DWORD read = 0;
  ReadFile(file, text, sizeof text - 1, &read, nullptr);
  CloseHandle(file);
  ProcessorTime time;
  const char* at = std::strchr(text, ' ');
  for (int field = 0; at && field < 8; ++field) {
    char* end = nullptr;
    const double ticks = std::strtod(at, &end);
    if (end == at) break;
    time.all += ticks;
    if (field != 3 && field != 4) time.busy += ticks;  // all but idle and waiting for I/O
    at = end;
  }
  return time;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The engine's own command, timed inside the shell around the engine alone: Wine's start of the
// shell is not counted against it.
double EngineCommandMs(const std::wstring& scratch, const std::string& page, int width, int height) {
  const std::string root = std::string("[ \"$(id -u)\" = 0 ] && sandbox=--no-sandbox; ");
  const std::string out = test::RunShell(
      scratch, root + "s=$(date +%s%N); /usr/bin/chromium-headless-shell $sandbox --headless --hide-scrollbars "
                      "--window-size=" + std::to_string(width) + "," + std::to_string(height) +
                   " --screenshot=shot.png 'file://" + page + "' >/dev/null 2>&1; e=$(date +%s%N); "
                   "[ -s shot.png ] && echo $(( (e - s) / 1000 )); rm -f shot.png",
      60000);
  return std::atof(out.c_str()) / 1000.0;
}

void Summary(const char* what, const std::vector<double>& ours, const std::vector<double>& engine, double target) {
  std::vector<double> ratios;
  for (size_t i = 0; i < ours.size(); ++i) ratios.push_back(ours[i] / engine[i]);
  std::printf("%s: %zu pairs; engine command median %.1f ms, ours %.1f ms; ratio median %.2fx, range "
              "%.2f-%.2fx (target <= %.1fx)\n",
              what, ratios.size(), Median(engine), Median(ours), Median(ratios),
              *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()),
              target);
}

std::vector<std::string> Pages(const std::string& folder) {
  std::vector<std::string> pages;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.html").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return pages;
  do pages.push_back(folder + "\\" + found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(pages.begin(), pages.end());
  return pages;
}

// FNV-1a over a picture's bits: the same page gives the same picture.
uint64_t PictureHash(HLOCAL bits) {
  uint64_t hash = 1469598103934665603ull;
  const auto* data = static_cast<const unsigned char*>(LocalLock(bits));
  for (SIZE_T i = 0, n = data ? LocalSize(bits) : 0; i < n; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  if (data) LocalUnlock(bits);
  return hash;
}

struct Bench {
  GetPictureFn getPicture;
  std::wstring scratch;
  int width, height;

  // GetPicture's time, or a negative one when it failed; with `hash`, its picture's hash.
  double Ours(const std::string& page, uint64_t* hash = nullptr) const {
    HLOCAL header = nullptr, bits = nullptr;
    const double start = NowMs();
    const int result = getPicture(page.c_str(), 0, 0, &header, &bits, nullptr, 0);
    const double elapsed = NowMs() - start;
    if (hash && result == 0) *hash = PictureHash(bits);
    LocalFree(header);
    LocalFree(bits);
    if (result != 0) std::fprintf(stderr, "GetPicture returned %d for %s\n", result, page.c_str());
    return result == 0 ? elapsed : -1;
  }
  double Theirs(const std::string& page) const { return EngineCommandMs(scratch, UnixPath(page), width, height); }

  // One pair, the order alternating with `pair`; `before` runs ahead of our side.
  template <typename Before>
  bool Pair(int pair, const std::string& page, std::vector<double>& ours, std::vector<double>& theirs,
            Before before) const {
    double mine = 0, engine = 0;
    for (int side = 0; side < 2; ++side) {
      if ((side + pair) % 2 == 0) {
        engine = Theirs(page);
      } else {
        before();
        mine = Ours(page);
      }
    }
    ours.push_back(mine);
    theirs.push_back(engine);
    return mine > 0 && engine > 0;
  }
};

// The meeting folders where the page service may have its spool (Unix paths), as the extractor
// finds them: under the runtime folder, else under the cache.
std::vector<std::string> MeetingFolders() {
  auto variable = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  std::string home;
  try {
    const std::optional<std::string> environment =
        wine_extractor::ReadSmall(wine_extractor::WindowsPath("/proc/self/environ"), 1 << 20);
    home = environment ? wine_extractor::EnvironmentValue(*environment, "HOME").value_or("") : "";
  } catch (const wine_extractor::Failure&) {
  }
  std::vector<std::string> folders;
  for (const auto& way : {wine_extractor::RuntimeWay(variable("XDG_RUNTIME_DIR")),
                          wine_extractor::CacheWay(variable("XDG_CACHE_HOME"), home)})
    if (way) folders.push_back(way->Path());
  return folders;
}

// The service has ended (after its idle time, or at once; one a mode before left running ends after
// its 30 s): no spool is left in a meeting folder.
void WaitForServiceEnd() {
  auto spools = [] {
    for (const std::string& folder : MeetingFolders()) {
      WIN32_FIND_DATAW found;
      std::wstring pattern;
      try {
        pattern = wine_extractor::WindowsPath(folder) + L"\\page-service-*";
      } catch (const wine_extractor::Failure&) {
        continue;
      }
      const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
      if (search == INVALID_HANDLE_VALUE) continue;
      FindClose(search);
      return true;
    }
    return false;
  };
  for (int waited = 0; spools() && waited < 45000; waited += 5) Sleep(5);
  Sleep(200);  // its engine's last processes
}

// The page service's proportional set size in MB, added up over its processes (the driver and the
// engine's, all working in the spool; the engine's helpers overwrite their environment with their
// titles): resident sizes would count the engine's shared pages once per process.
double ServicePssMb(const std::wstring& scratch) {
  double total = 0;
  for (const std::string& folder : MeetingFolders()) {
    const std::string out = test::RunShell(
        scratch, "s=$(realpath '" + folder + "'); t=0; for p in /proc/[0-9]*; do case \"$(readlink $p/cwd)\" in \"$s\"/*) "
                 "k=$(awk '/^Pss:/ {print $2}' $p/smaps_rollup 2>/dev/null); t=$((t + ${k:-0})) ;; esac; done; echo $t");
    total += std::atof(out.c_str()) / 1024.0;
  }
  return total;
}

// Starts `count` host processes of this program, each drawing `each` pages (the next ones from where
// the last left off), waits until every one has its plug-in loaded, then says go; the wall time from
// go to the last one's end, or a negative one when one failed. `whileDrawing` runs after go.
template <typename WhileDrawing>
double Hosts(const char* self, const char* plugin, const char* pages, int width, int height, int count, int each,
             uint64_t hash, WhileDrawing whileDrawing, double* busyShare = nullptr) {
  HANDLE ready = CreateSemaphoreW(nullptr, 0, count, nullptr);
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetHandleInformation(ready, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  SetHandleInformation(go, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  std::vector<HANDLE> hosts;
  for (int i = 0; i < count; ++i) {
    const std::string folder = std::string(pages) + "\\hosts\\h" + std::to_string(count == 1 ? 0 : i + 1);
    std::string command = std::string("\"") + self + "\" \"" + plugin + "\" host \"" + folder + "\" 0 " +
                          std::to_string(each) + " " + std::to_string(width) + " " + std::to_string(height) + " " +
                          std::to_string(uintptr_t(ready)) + " " + std::to_string(uintptr_t(go)) + " " +
                          std::to_string(hash);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) break;
    CloseHandle(process.hThread);
    hosts.push_back(process.hProcess);
  }
  for (size_t i = 0; i < hosts.size(); ++i) WaitForSingleObject(ready, 60000);
  const ProcessorTime before = ReadProcessorTime();
  const double start = NowMs();
  SetEvent(go);
  whileDrawing();
  bool ok = int(hosts.size()) == count;
  for (HANDLE host : hosts) {
    ok = WaitForSingleObject(host, 600000) == WAIT_OBJECT_0 && ok;
    DWORD code = 1;
    GetExitCodeProcess(host, &code);
    ok = ok && code == 0;
    CloseHandle(host);
  }
  const double elapsed = NowMs() - start;
  const ProcessorTime after = ReadProcessorTime();
  if (busyShare && after.all > before.all) *busyShare = (after.busy - before.busy) / (after.all - before.all);
  CloseHandle(ready);
  CloseHandle(go);
  return ok ? elapsed : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 11 && std::string(argv[2]) == "host") {
    const uint64_t hash = std::strtoull(argv[10], nullptr, 10);
    const std::vector<std::string> pages = Pages(argv[3]);
    const size_t first = size_t(std::atoi(argv[4])), count = size_t(std::atoi(argv[5]));
    test::WriteDword("width", DWORD(std::atoi(argv[6])));
    test::WriteDword("height", DWORD(std::atoi(argv[7])));
    HMODULE plugin = LoadLibraryA(argv[1]);
    auto getPicture =
        plugin ? reinterpret_cast<GetPictureFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "GetPicture"))) : nullptr;
    ReleaseSemaphore(HANDLE(uintptr_t(std::strtoull(argv[8], nullptr, 10))), 1, nullptr);
    WaitForSingleObject(HANDLE(uintptr_t(std::strtoull(argv[9], nullptr, 10))), 60000);
    if (!getPicture || first + count > pages.size()) return 2;
    for (size_t i = first; i < first + count; ++i) {
      HLOCAL header = nullptr, bits = nullptr;
      const int result = getPicture(pages[i].c_str(), 0, 0, &header, &bits, nullptr, 0);
      const bool exact = result == 0 && PictureHash(bits) == hash;
      LocalFree(header);
      LocalFree(bits);
      if (result != 0) return 3;
      if (!exact) return 4;
    }
    return 0;
  }
  if (argc != 7) {
    std::fprintf(stderr, "usage: browser_bench PLUGIN oneshot|first|series PAGES PAIRS WIDTH HEIGHT\n");
    return 1;
  }
  const std::string mode = argv[2];
  const std::vector<std::string> pages = Pages(argv[3]);
  const int pairs = std::atoi(argv[4]);
  const int width = std::atoi(argv[5]), height = std::atoi(argv[6]);
  if (pages.empty() || pairs < 1) return 1;
  test::WriteDword("width", DWORD(width));
  test::WriteDword("height", DWORD(height));
  SetEnvironmentVariableW(L"ZELNAR_BROWSER_KEEP_ALIVE", mode == "oneshot" ? L"0" : nullptr);
  // The first picture is measured from a service that is not running: it ends soon after each.
  SetEnvironmentVariableW(L"ZELNAR_BROWSER_IDLE_MS", mode == "first" ? L"100" : nullptr);
  HMODULE plugin = LoadLibraryA(argv[1]);
  if (!plugin) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 2;
  }
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  Bench bench{reinterpret_cast<GetPictureFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "GetPicture"))),
              std::wstring(temp) + L"zelnar-bench-" + std::to_wstring(GetCurrentProcessId()), width, height};
  CreateDirectoryW(bench.scratch.c_str(), nullptr);
  const std::string size = std::to_string(width) + "x" + std::to_string(height);

  std::vector<double> ours, engine;
  bool ok = true;
  if (mode == "hosts") {
    // The service runs, its engine started: both sides meet it warm. Every host's page is a copy of
    // the first, whose picture each must give.
    uint64_t hash = 0;
    ok = bench.Ours(pages[0], &hash) > 0;
    const int hosts = 4, each = 5;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::vector<double> one, four, ratios, oneBusy, fourBusy;
    for (int pair = 0; pair < pairs && ok; ++pair) {
      for (int side = 0; side < 2 && ok; ++side) {
        const bool many = (side + pair) % 2 == 0;
        double busy = 0;
        const double ms = Hosts(self, argv[1], argv[3], width, height, many ? hosts : 1, many ? each : hosts * each,
                                hash, [] {}, &busy);
        ok = ms > 0;
        if (!ok) std::fprintf(stderr, "pair %d: a picture of %s was lost or not exact\n", pair, many ? "four hosts" : "one host");
        (many ? four : one).push_back(ms);
        (many ? fourBusy : oneBusy).push_back(100 * busy);
      }
      if (ok) ratios.push_back(one.back() / four.back());
    }
    if (ok) {
      std::printf("four hosts x %d pages at once against one host x %d pages, %s: %zu pairs; one host median "
                  "%.0f ms (%.1f pages/s), four hosts median %.0f ms (%.1f pages/s); speed-up median %.2fx, range "
                  "%.2f-%.2fx (target >= 1.0x); every picture drawn and exact\n",
                  each, hosts * each, size.c_str(), ratios.size(), Median(one), 1000.0 * hosts * each / Median(one),
                  Median(four), 1000.0 * hosts * each / Median(four), Median(ratios),
                  *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
      std::printf("  the machine's processors busy (median): %.0f %% while one host draws, %.0f %% while four do\n",
                  Median(oneBusy), Median(fourBusy));
      // Idle: once the context made ahead for the next page has gone, 2 s after the last.
      Sleep(3000);
      const double idle = ServicePssMb(bench.scratch);
      double drawing = 0;
      Hosts(self, argv[1], argv[3], width, height, hosts, each, hash, [&] {
        Sleep(300);
        drawing = ServicePssMb(bench.scratch);
      });
      std::printf("  the page service's proportional set size (all its processes): idle %.0f MB, while four hosts "
                  "draw %.0f MB\n",
                  idle, drawing);
    }
  } else if (mode == "oneshot") {
    for (int pair = 0; pair < pairs && ok; ++pair) ok = bench.Pair(pair, pages[0], ours, engine, WaitForServiceEnd);
    if (ok) Summary(("a service that ends at once, " + size).c_str(), ours, engine, 1.2);
  } else if (mode == "first") {
    for (int pair = 0; pair < pairs && ok; ++pair) ok = bench.Pair(pair, pages[0], ours, engine, WaitForServiceEnd);
    if (ok) Summary(("kept-alive engine, first picture with the service's start, " + size).c_str(), ours, engine, 1.2);
  } else {
    ok = bench.Ours(pages[0]) > 0;
    for (size_t i = 1; i < pages.size() && ok; ++i) ok = bench.Pair(int(i), pages[i], ours, engine, [] {});
    if (ok) Summary(("kept-alive engine, each later picture of " + std::to_string(pages.size()) + " pages, " + size)
                        .c_str(),
                    ours, engine, 0.3);
    std::vector<double> backToBack;
    for (size_t i = 1; i < pages.size() && ok; ++i) backToBack.push_back(bench.Ours(pages[i]));
    if (ok) std::printf("  the same pages back to back, without the engine command between: median %.1f ms\n",
                        Median(backToBack));
  }
  RemoveDirectoryW(bench.scratch.c_str());
  FreeLibrary(plugin);
  return ok ? 0 : 3;
}
