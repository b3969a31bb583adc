// The exported IsSupported against shlwapi's PathMatchSpecA on the same paths, and IsSupportedW against
// IsSupported, timed in one run and printed as ratios. Uses the default list: the plug-in's key must
// hold no "ext" of its own.
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/plugin_module.h"

namespace {

volatile int sink;

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) / frequency;
}

// Nanoseconds per call: the fastest of `rounds` rounds of `calls` calls.
template <typename Fn>
double BestPerCall(Fn fn, int calls, int rounds) {
  double best = 1e300;
  for (int r = 0; r < rounds; ++r) {
    const double start = Now();
    for (int i = 0; i < calls; ++i) sink = fn();
    best = std::min(best, (Now() - start) * 1e9 / calls);
  }
  return best;
}

}  // namespace

int main() {
  test::PluginModule plugin;
  auto isSupported = plugin.Get<test::IsSupportedFn>("IsSupported");
  auto pluginInfo = plugin.Get<test::GetPluginInfoFn>("GetPluginInfo");
  char list[256];
  pluginInfo(2, list, sizeof list);
  if (std::strcmp(list, "*.html;*.htm") != 0) {
    std::printf("the plug-in's list is \"%s\", not the default: remove its stored \"ext\" first\n", list);
    return 1;
  }

  const char* const paths[] = {"C:\\docs\\index.html",
                               "C:\\docs\\page.htm",
                               "C:\\docs\\Page.HTM",
                               "C:\\docs\\README.txt",
                               "C:\\Users\\me\\Pictures\\photo_2024_05_17.jpeg",
                               "D:\\work\\Quarterly report (final, revised).docx",
                               "archive.tar.gz",
                               "C:\\docs\\a.htm.bak"};
  std::printf("%-48s %12s %14s %8s\n", "path", "IsSupported", "PathMatchSpecA", "ratio");
  double sumOurs = 0, sumTheirs = 0;
  for (const char* path : paths) {
    if (isSupported(path, 0) != (PathMatchSpecA(path, "*.html;*.htm") ? 1 : 0))
      std::printf("  (results differ for %s)\n", path);
    double ours = 1e300, theirs = 1e300;
    for (int pass = 0; pass < 5; ++pass) {
      ours = std::min(ours, BestPerCall([&] { return isSupported(path, 0); }, 50000, 3));
      theirs = std::min(theirs, BestPerCall([&] { return int(PathMatchSpecA(path, "*.html;*.htm")); }, 50000, 3));
    }
    sumOurs += ours;
    sumTheirs += theirs;
    std::printf("%-48s %10.1fns %12.1fns %7.2fx\n", path, ours, theirs, ours / theirs);
  }
  std::printf("%-48s %10.1fns %12.1fns %7.2fx\n", "all paths", sumOurs, sumTheirs, sumOurs / sumTheirs);

  // The wide form on the same (ASCII) paths: it converts only the name part, on the stack.
  auto isSupportedW = plugin.Get<test::IsSupportedWFn>("IsSupportedW");
  std::printf("\n%-48s %12s %12s %8s\n", "path", "IsSupportedW", "IsSupported", "ratio");
  double sumWide = 0, sumAnsi = 0;
  for (const char* path : paths) {
    const std::wstring wide(path, path + std::strlen(path));
    if (isSupportedW(wide.c_str(), 0) != isSupported(path, 0)) std::printf("  (results differ for %s)\n", path);
    double w = 1e300, a = 1e300;
    for (int pass = 0; pass < 5; ++pass) {
      w = std::min(w, BestPerCall([&] { return isSupportedW(wide.c_str(), 0); }, 50000, 3));
      a = std::min(a, BestPerCall([&] { return isSupported(path, 0); }, 50000, 3));
    }
    sumWide += w;
    sumAnsi += a;
    std::printf("%-48s %10.1fns %10.1fns %7.2fx\n", path, w, a, w / a);
  }
  std::printf("%-48s %10.1fns %10.1fns %7.2fx (target <= 1.5x)\n", "IsSupportedW / IsSupported, all paths", sumWide,
              sumAnsi, sumWide / sumAnsi);
  return 0;
}
