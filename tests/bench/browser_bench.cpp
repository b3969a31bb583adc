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
//   MODE large: the kept-alive engine drawing one large page (PAGES names it), PAIRS pairs after a first
//     picture.
//   MODE lost: what may lose no picture, with the kept-alive engine, each row a service of its own: a
//     page of 10 and one of 40 pictures of 30 MB (PAGES\heavy10, PAGES\heavy40), alone and beside another
//     host's pages, with the page driver's peak resident memory; four hosts x 5 pages queued behind a
//     host's slow pages (PAGES\slow) with a 3 s time limit; and four hosts x 5 pages with 1, 2 and 4
//     slots on a machine starved by 8 busy loops: pages drawn of those asked, and pages per second.
//   MODE host FOLDER COUNT ... HASH (internal): a host process of `hosts`, drawing COUNT pages of FOLDER
//     once the parent says go, each of which must give the picture whose hash is HASH (any picture
//     when HASH is 0); its exit code is 0 when all did, else 100 and the number that did.
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

// The .html pages of `folder`, in order; a page given alone is its own list.
std::vector<std::string> Pages(const std::string& folder) {
  if (folder.size() > 5 && folder.compare(folder.size() - 5, 5, ".html") == 0) return {folder};
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

// `perProcess` (a shell command that prints one whole number of the process at /proc/$p) added up over
// the page service's processes: those working in a meeting folder's spools (the driver and the
// engine's; the engine's helpers overwrite their environment with their titles, but keep the folder).
double OverService(const std::wstring& scratch, const std::string& perProcess) {
  double total = 0;
  for (const std::string& folder : MeetingFolders()) {
    const std::string out = test::RunShell(
        scratch, "s=$(realpath '" + folder + "'); t=0; for p in /proc/[0-9]*; do case \"$(readlink $p/cwd)\" in \"$s\"/*) "
                 "k=$(" + perProcess + "); t=$((t + ${k:-0})) ;; esac; done; echo $t");
    total += std::atof(out.c_str());
  }
  return total;
}

// The page service's proportional set size in MB: resident sizes would count the engine's shared
// pages once per process.
double ServicePssMb(const std::wstring& scratch) {
  return OverService(scratch, "awk '/^Pss:/ {print $2}' $p/smaps_rollup 2>/dev/null") / 1024.0;
}

// The processor time the page service's processes have used, in ms (user and system, with that of
// the children they reaped).
double ServiceCpuMs(const std::wstring& scratch) {
  return OverService(scratch, "sed 's/.*) //' $p/stat 2>/dev/null | awk '{print $12 + $13 + $14 + $15}'") * 1000.0 /
         std::atof(test::RunShell(scratch, "getconf CLK_TCK").c_str());
}

// What host processes drew: pages drawn of those asked, and the wall time from go to the last one's end.
struct Tally {
  int drawn = 0, asked = 0;
  double ms = 0;
  std::vector<int> byHost;  // the pages each host drew
  bool All() const { return asked > 0 && drawn == asked; }
};

// Starts a host process of this program for each of `folders`, drawing `each` of its pages (hash 0:
// any picture counts), waits until every one has its plug-in loaded, then says go: to the first at
// once, to the others `laterMs` after. `whileDrawing` runs after go.
template <typename WhileDrawing>
Tally Crowd(const char* self, const char* plugin, const std::vector<std::string>& folders, int width, int height,
            int each, uint64_t hash, WhileDrawing whileDrawing, double* busyShare = nullptr, DWORD laterMs = 0) {
  HANDLE ready = CreateSemaphoreW(nullptr, 0, LONG(folders.size()), nullptr);
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr), go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (HANDLE handle : {ready, first, go}) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  std::vector<HANDLE> hosts;
  Tally tally;
  for (size_t i = 0; i < folders.size(); ++i) {
    std::string command = std::string("\"") + self + "\" \"" + plugin + "\" host \"" + folders[i] + "\" 0 " +
                          std::to_string(each) + " " + std::to_string(width) + " " + std::to_string(height) + " " +
                          std::to_string(uintptr_t(ready)) + " " + std::to_string(uintptr_t(i == 0 ? first : go)) +
                          " " + std::to_string(hash);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) break;
    CloseHandle(process.hThread);
    hosts.push_back(process.hProcess);
    tally.asked += each;
  }
  for (size_t i = 0; i < hosts.size(); ++i) WaitForSingleObject(ready, 60000);
  const ProcessorTime before = ReadProcessorTime();
  const double start = NowMs();
  SetEvent(first);
  if (laterMs) Sleep(laterMs);
  SetEvent(go);
  whileDrawing();
  bool ok = hosts.size() == folders.size();
  for (HANDLE host : hosts) {
    ok = WaitForSingleObject(host, 600000) == WAIT_OBJECT_0 && ok;
    DWORD code = 1;
    GetExitCodeProcess(host, &code);
    tally.byHost.push_back(code == 0 ? each : code >= 100 ? int(code) - 100 : 0);
    tally.drawn += tally.byHost.back();
    CloseHandle(host);
  }
  tally.ms = NowMs() - start;
  const ProcessorTime after = ReadProcessorTime();
  if (busyShare && after.all > before.all) *busyShare = (after.busy - before.busy) / (after.all - before.all);
  if (!ok) tally.drawn = 0;
  for (HANDLE handle : {ready, first, go}) CloseHandle(handle);
  return tally;
}

// `count` hosts drawing `each` pages of their own folders (PAGES\hosts\h0 for one, h1 to h4 for four):
// the wall time, or a negative one when a picture was lost or not exact.
template <typename WhileDrawing>
double Hosts(const char* self, const char* plugin, const char* pages, int width, int height, int count, int each,
             uint64_t hash, WhileDrawing whileDrawing, double* busyShare = nullptr) {
  std::vector<std::string> folders;
  for (int i = 0; i < count; ++i) folders.push_back(std::string(pages) + "\\hosts\\h" + std::to_string(count == 1 ? 0 : i + 1));
  const Tally tally = Crowd(self, plugin, folders, width, height, each, hash, whileDrawing, busyShare);
  return tally.All() ? tally.ms : -1;
}

// The page driver's peak resident memory in MB (of the largest, should there be several).
double DriverPeakMb(const std::wstring& scratch) {
  return std::atof(test::RunShell(scratch, "m=0; for p in $(pgrep -f 'zelnar-page-driver --serve'); do "
                                           "k=$(awk '/^VmHWM:/ {print $2}' /proc/$p/status 2>/dev/null); "
                                           "[ \"${k:-0}\" -gt $m ] && m=$k; done; echo $m").c_str()) / 1024.0;
}

// The rows of MODE lost.
bool NothingLost(const char* self, const char* plugin, const std::string& pages, const std::wstring& scratch) {
  bool ok = true;
  auto row = [&](const char* what, const Tally& tally, const std::string& more) {
    std::printf("  %-58s %3d / %3d drawn%s%s\n", what, tally.drawn, tally.asked, more.c_str(),
                tally.All() ? "" : "  <- pictures lost");
    ok = ok && tally.All();
  };
  auto fresh = [&] {
    WaitForServiceEnd();
  };
  std::printf("nothing lost (kept-alive engine, each row a service of its own):\n");
  for (const char* heavy : {"heavy10", "heavy40"}) {
    const std::string folder = pages + "\\" + heavy;
    for (bool beside : {false, true}) {
      fresh();
      std::vector<std::string> folders{folder};
      if (beside) folders.push_back(pages + "\\hosts\\h1");
      const Tally tally = Crowd(self, plugin, folders, 800, 600, 1, 0, [] {});
      char what[128];
      std::snprintf(what, sizeof what, "a page of %s pictures of 30 MB%s", heavy + 5, beside ? ", beside another host's" : "");
      char more[96];
      std::snprintf(more, sizeof more, "; the driver's peak %.0f MB", DriverPeakMb(scratch));
      row(what, tally, more);
    }
  }
  // Behind two slow pages, with a 3 s limit: the four hosts' pages wait longer than that.
  fresh();
  SetEnvironmentVariableW(L"ZELNAR_BROWSER_TIME_LIMIT_MS", L"3000");
  std::vector<std::string> queued{pages + "\\slow"};
  for (int h = 1; h <= 4; ++h) queued.push_back(pages + "\\hosts\\h" + std::to_string(h));
  const Tally queue = Crowd(self, plugin, queued, 800, 600, 2, 0, [] {}, nullptr, 500);
  SetEnvironmentVariableW(L"ZELNAR_BROWSER_TIME_LIMIT_MS", nullptr);
  // The slow pages may fail by their own limit; every page behind them must be drawn.
  Tally behind;
  for (size_t h = 1; h < queue.byHost.size(); ++h) behind.drawn += queue.byHost[h];
  behind.asked = queue.asked - 2;
  row("four hosts x 2 pages behind 2 slow pages, 3 s limit", behind, "");
  // Slots, on this machine as it is and starved by 8 busy loops beside the hosts.
  for (bool starved : {false, true}) {
    if (starved)
      test::RunShell(scratch, "for i in 1 2 3 4 5 6 7 8; do setsid sh -c 'while :; do :; done' </dev/null >/dev/null 2>&1 & "
                              "echo $! >>busy; done");
    for (const wchar_t* slots : {L"1", L"2", L"4"}) {
      fresh();
      SetEnvironmentVariableW(L"ZELNAR_BROWSER_PARALLEL", slots);
      std::vector<std::string> four;
      for (int h = 1; h <= 4; ++h) four.push_back(pages + "\\hosts\\h" + std::to_string(h));
      const Tally tally = Crowd(self, plugin, four, 800, 600, 5, 0, [] {});
      char what[96], more[64];
      std::snprintf(what, sizeof what, "four hosts x 5 pages, %ls slot(s)%s", slots, starved ? ", 8 busy loops" : "");
      std::snprintf(more, sizeof more, "; %.1f pages/s", 1000.0 * tally.drawn / tally.ms);
      row(what, tally, more);
    }
  }
  SetEnvironmentVariableW(L"ZELNAR_BROWSER_PARALLEL", nullptr);
  test::RunShell(scratch, "kill $(cat busy) 2>/dev/null; rm -f busy");
  return ok;
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
    int drawn = 0;
    for (size_t i = first; i < first + count; ++i) {
      HLOCAL header = nullptr, bits = nullptr;
      const int result = getPicture(pages[i].c_str(), 0, 0, &header, &bits, nullptr, 0);
      drawn += result == 0 && (hash == 0 || PictureHash(bits) == hash);
      LocalFree(header);
      LocalFree(bits);
    }
    return drawn == int(count) ? 0 : 100 + drawn;
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
  if (mode == "lost") {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    SetEnvironmentVariableW(L"ZELNAR_BROWSER_IDLE_MS", L"500");
    ok = NothingLost(self, argv[1], argv[3], bench.scratch);
  } else if (mode == "hosts") {
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
                  "%.2f-%.2fx (target >= 1.3x); every picture drawn and exact\n",
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
  } else if (mode == "large") {
    ok = bench.Ours(pages[0]) > 0;
    for (int pair = 0; pair < pairs && ok; ++pair) ok = bench.Pair(pair, pages[0], ours, engine, [] {});
    if (ok) Summary(("kept-alive engine, a large page again and again, " + size).c_str(), ours, engine, 1.0);
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
                    ours, engine, width <= 800 ? 0.2 : 0.3);
    std::vector<double> backToBack;
    const double cpuBefore = ServiceCpuMs(bench.scratch);
    for (size_t i = 1; i < pages.size() && ok; ++i) backToBack.push_back(bench.Ours(pages[i]));
    const double cpuPerPage = (ServiceCpuMs(bench.scratch) - cpuBefore) / double(pages.size() - 1);
    if (ok) std::printf("  the same pages back to back, without the engine command between: median %.1f ms; the "
                        "page service's processor time %.0f ms a page (target <= 60 ms)\n",
                        Median(backToBack), cpuPerPage);
  }
  RemoveDirectoryW(bench.scratch.c_str());
  FreeLibrary(plugin);
  return ok ? 0 : 3;
}
