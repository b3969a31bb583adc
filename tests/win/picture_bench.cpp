// GetPicture against the floor of its design, measured in one run: the check that the file is readable,
// COM, the extractor's calls, two blocks and one copy of the rows. Prints the ratio of the medians and
// the peak memory of one call. Built in both Windows trees, so it measures zelnar.spi or zelnar.sph.
// Run it through scripts/bench; it needs the stand-in registered in the prefix.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "render/image_extract.h"
#include "tests/support/plugin_module.h"
#include "tools/standin/standin_control.h"

namespace {

using test::GetPictureFn;
char pagePath[MAX_PATH];  // a real, empty file: the plug-in refuses a path that names none
wchar_t widePagePath[MAX_PATH];

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

// The least this design can do for one picture of width x height.
bool Floor(int width, int height) {
  HANDLE file = CreateFileW(widePagePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
  bool ok = false;
  CLSID classId;
  IUnknown* object = nullptr;
  IPersistFile* persist = nullptr;
  zelnar::IExtractImage* extractor = nullptr;
  if (SUCCEEDED(CLSIDFromProgID(zelnar::kExtractorProgId, &classId)) &&
      SUCCEEDED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                 reinterpret_cast<void**>(&object))) &&
      object->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)) == S_OK &&
      object->QueryInterface(zelnar::kIID_IExtractImage, reinterpret_cast<void**>(&extractor)) == S_OK) {
    wchar_t location[256] = {};
    DWORD priority = 0, flags = 524;
    const SIZE size{width, height};
    persist->Load(widePagePath, STGM_READ);
    extractor->GetLocation(location, 256, &priority, &size, 24, &flags);
    HBITMAP bitmap = nullptr;
    DIBSECTION section{};
    if (SUCCEEDED(extractor->Extract(&bitmap)) && bitmap &&
        GetObjectW(bitmap, sizeof section, &section) == int(sizeof section)) {
      const size_t bytes = size_t((3 * width + 3) & ~3) * height;
      HLOCAL header = LocalAlloc(LMEM_MOVEABLE, 40);
      HLOCAL pixels = LocalAlloc(LMEM_MOVEABLE, bytes);
      void* headerBytes = LocalLock(header);
      void* pixelBytes = LocalLock(pixels);
      std::memset(headerBytes, 0, 40);
      std::memcpy(pixelBytes, section.dsBm.bmBits, bytes);
      LocalUnlock(header);
      LocalUnlock(pixels);
      LocalFree(header);  // as the host does
      LocalFree(pixels);
      ok = true;
    }
    if (bitmap) DeleteObject(bitmap);
  }
  if (extractor) extractor->Release();
  if (persist) persist->Release();
  if (object) object->Release();
  CoUninitialize();
  return ok;
}

bool Picture(GetPictureFn getPicture, SIZE_T* pixelBytes = nullptr) {
  HLOCAL header = nullptr, pixels = nullptr;
  if (getPicture(pagePath, 0, 0, &header, &pixels, nullptr, 0) != 0) return false;
  if (pixelBytes) *pixelBytes = LocalSize(pixels);
  LocalFree(header);
  LocalFree(pixels);
  return true;
}

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  char directory[MAX_PATH];
  if (!GetTempPathA(MAX_PATH, directory) || !GetTempFileNameA(directory, "pb", 0, pagePath) ||
      !MultiByteToWideChar(CP_ACP, 0, pagePath, -1, widePagePath, MAX_PATH)) {
    std::fprintf(stderr, "cannot create the page file\n");
    return 2;
  }
  HMODULE plugin = LoadLibraryA(test::kPluginFile);
  if (!plugin) {
    std::fprintf(stderr, "cannot load %s\n", test::kPluginFile);
    return 2;
  }
  auto getPicture = reinterpret_cast<GetPictureFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "GetPicture")));
  if (!getPicture) {
    std::fprintf(stderr, "%s has no GetPicture\n", test::kPluginFile);
    return 2;
  }

  // Peak memory first, while the process has not yet held large blocks. Every page of the capture is
  // written (pattern mode), so it is resident as a real extractor's would be. Warm-up at a tiny size.
  StandinSetMode(standin::Mode::Pattern);
  Floor(1, 1);
  const PROCESS_MEMORY_COUNTERS before = Memory();
  SIZE_T pixelBytes = 0;
  if (!Picture(getPicture, &pixelBytes)) {
    std::fprintf(stderr, "GetPicture failed: is the stand-in registered?\n");
    return 1;
  }
  const PROCESS_MEMORY_COUNTERS after = Memory();
  const double peak = double(after.PeakWorkingSetSize) - double(before.WorkingSetSize);
  const double budget = 2.0 * double(pixelBytes) + 1048576.0;
  const bool peakExact = after.PeakWorkingSetSize > before.PeakWorkingSetSize;

  // The configured size, as the header of the picture says.
  HLOCAL header = nullptr, pixels = nullptr;
  getPicture(pagePath, 0, 0, &header, &pixels, nullptr, 0);
  const auto* info = static_cast<const BITMAPINFOHEADER*>(LocalLock(header));
  const int width = info->biWidth, height = info->biHeight;
  LocalUnlock(header);
  LocalFree(header);
  LocalFree(pixels);

  StandinSetMode(standin::Mode::Ready);
  constexpr int kRounds = 21, kCalls = 20;
  std::vector<double> pictureTimes, floorTimes;
  for (int round = 0; round < kRounds; ++round) {
    // Alternating the arms spreads drift on a shared machine over both.
    double start = Now();
    for (int i = 0; i < kCalls; ++i)
      if (!Picture(getPicture)) return 1;
    pictureTimes.push_back((Now() - start) / kCalls);
    start = Now();
    for (int i = 0; i < kCalls; ++i)
      if (!Floor(width, height)) return 1;
    floorTimes.push_back((Now() - start) / kCalls);
  }
  const double picture = Median(pictureTimes), floor = Median(floorTimes);
  const double ratio = picture / floor;

  std::printf("%s (%d-bit): picture %dx%d, pixel block %lu bytes\n", test::kPluginFile, int(8 * sizeof(void*)), width,
              height, static_cast<unsigned long>(pixelBytes));
  std::printf("GetPicture (ready bitmap): median %.3f ms, min %.3f ms per call\n", picture * 1e3,
              *std::min_element(pictureTimes.begin(), pictureTimes.end()) * 1e3);
  std::printf("floor of the design:       median %.3f ms, min %.3f ms per call\n", floor * 1e3,
              *std::min_element(floorTimes.begin(), floorTimes.end()) * 1e3);
  std::printf("time ratio %.3f (target <= 1.30): %s\n", ratio, ratio <= 1.3 ? "met" : "MISSED");
  std::printf("peak during one call %.2f MB%s, budget 2 x pixel block + 1 MB = %.2f MB: ratio %.3f %s\n",
              peak / 1048576.0, peakExact ? "" : " (upper bound)", budget / 1048576.0, peak / budget,
              peak <= budget ? "met" : "MISSED");
  StandinSetMode(standin::Mode::Normal);
  FreeLibrary(plugin);
  DeleteFileA(pagePath);
  return ratio <= 1.3 && peak <= budget ? 0 : 1;
}
