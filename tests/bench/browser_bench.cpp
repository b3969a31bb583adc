// Times GetPicture through the real zelnar.spi with the browser-backed extractor registered, one
// page, several calls. Prints one line per call ("call N: MS ms") and the median, for
// tests/bench/browser_bench to set against the engine run directly.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using GetPictureFn = int(__stdcall*)(const char*, LONG, unsigned int, HLOCAL*, HLOCAL*, void*, LONG_PTR);

double NowMs() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * double(counter.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: browser_bench PAGE CALLS\n");
    return 1;
  }
  const int calls = std::atoi(argv[2]);
  HMODULE plugin = LoadLibraryA("zelnar.spi");
  if (!plugin) {
    std::fprintf(stderr, "cannot load zelnar.spi\n");
    return 2;
  }
  auto getPicture = reinterpret_cast<GetPictureFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "GetPicture")));
  std::vector<double> times;
  for (int call = 0; call < calls; ++call) {
    HLOCAL header = nullptr, bits = nullptr;
    const double start = NowMs();
    const int result = getPicture(argv[1], 0, 0, &header, &bits, nullptr, 0);
    const double elapsed = NowMs() - start;
    if (result != 0) {
      std::fprintf(stderr, "GetPicture returned %d\n", result);
      return 3;
    }
    LocalFree(header);
    LocalFree(bits);
    times.push_back(elapsed);
    std::printf("call %d: %.1f ms\n", call + 1, elapsed);
  }
  std::sort(times.begin(), times.end());
  std::printf("median: %.1f ms\n", times[times.size() / 2]);
  FreeLibrary(plugin);
  return 0;
}
