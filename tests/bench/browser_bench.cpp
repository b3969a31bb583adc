// GetPicture through the real plug-in with the browser-backed extractor registered, against the
// engine's one-shot screenshot command on the same page at the same size. The two sides run
// interleaved in this one process, their order alternating from pair to pair, so a busy machine
// shifts both alike; it prints the median ratio of the pairs and its range.
//
// Usage: browser_bench PLUGIN PAGE PAIRS WIDTH HEIGHT
//   PAGE is a Windows path; the engine is /usr/bin/chromium-headless-shell.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/linux_shell.h"
#include "tests/support/settings_key.h"

namespace {

using GetPictureFn = int(__stdcall*)(const char*, LONG_PTR, unsigned int, HLOCAL*, HLOCAL*, void*, LONG_PTR);

double NowMs() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * double(counter.QuadPart) / double(frequency.QuadPart);
}

std::string UnixPath(const std::string& windowsPath) {
  using ToUnixFn = char*(CDECL*)(const wchar_t*);
  auto toUnix = reinterpret_cast<ToUnixFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  std::wstring wide(windowsPath.begin(), windowsPath.end());
  char* unix = toUnix ? toUnix(wide.c_str()) : nullptr;
  std::string text = unix ? unix : "";
  if (unix) HeapFree(GetProcessHeap(), 0, unix);
  return text;
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: browser_bench PLUGIN PAGE PAIRS WIDTH HEIGHT\n");
    return 1;
  }
  const char* page = argv[2];
  const int pairs = std::atoi(argv[3]);
  const int width = std::atoi(argv[4]), height = std::atoi(argv[5]);
  test::WriteDword("width", DWORD(width));
  test::WriteDword("height", DWORD(height));
  HMODULE plugin = LoadLibraryA(argv[1]);
  if (!plugin) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 2;
  }
  auto getPicture = reinterpret_cast<GetPictureFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "GetPicture")));
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring scratch = std::wstring(temp) + L"zelnar-bench-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(scratch.c_str(), nullptr);
  const std::string unixPage = UnixPath(page);

  std::vector<double> ours, engine;
  int status = 0;
  for (int pair = 0; pair < pairs && status == 0; ++pair) {
    double mine = 0, theirs = 0;
    for (int side = 0; side < 2; ++side) {
      if ((side + pair) % 2 == 0) {
        theirs = EngineCommandMs(scratch, unixPage, width, height);
        if (theirs <= 0) status = 4;
      } else {
        HLOCAL header = nullptr, bits = nullptr;
        const double start = NowMs();
        const int result = getPicture(page, 0, 0, &header, &bits, nullptr, 0);
        mine = NowMs() - start;
        if (result != 0) {
          std::fprintf(stderr, "GetPicture returned %d\n", result);
          status = 3;
        }
        LocalFree(header);
        LocalFree(bits);
      }
    }
    ours.push_back(mine);
    engine.push_back(theirs);
  }
  RemoveDirectoryW(scratch.c_str());
  FreeLibrary(plugin);
  if (status != 0) return status;
  Summary(("GetPicture, " + std::to_string(width) + "x" + std::to_string(height)).c_str(), ours, engine, 1.2);
  return 0;
}
