// The matcher against glibc fnmatch (FNM_CASEFOLD, one call per pattern), timed in one run, printed as
// ratios. Rounds alternate between the two sides and each side keeps its fastest round, so background
// load on a shared machine skews both alike.
#include <fnmatch.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "filter/pattern_list.h"
#include "filter/pattern_matcher.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile int sink;

// Nanoseconds per call: the fastest of `rounds` rounds of `calls` calls.
template <typename Fn>
double BestPerCall(Fn fn, int calls, int rounds) {
  double best = 1e300;
  for (int r = 0; r < rounds; ++r) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) sink = fn();
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / calls;
    best = std::min(best, ns);
  }
  return best;
}

const zelnar::LeadByteSet kNoLeadBytes{};
const char kDefaultList[] = "*.html;*.htm";
const char* const kDefaultPatterns[] = {"*.html", "*.htm"};

// One call as the plug-in makes it: a private copy of the list, then the scan.
int MatcherOnDefaultList(const char* name) {
  char list[sizeof kDefaultList];
  std::memcpy(list, kDefaultList, sizeof kDefaultList);
  return zelnar::MatchesPatternList(name, list, kNoLeadBytes);
}

int FnmatchOnDefaultList(const char* name) {
  for (const char* pattern : kDefaultPatterns)
    if (fnmatch(pattern, name, FNM_CASEFOLD) == 0) return 1;
  return 0;
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

}  // namespace

int main() {
  const char* const names[] = {"index.html", "page.htm", "Page.HTM", "README.txt", "photo_2024_05_17.jpeg",
                               "Quarterly report (final, revised).docx", "archive.tar.gz", "a.htm.bak"};
  std::printf("%-42s %12s %12s %8s\n", "default list \"*.html;*.htm\", name", "matcher ns", "fnmatch ns", "ratio");
  double sumOurs = 0, sumTheirs = 0;
  for (const char* name : names) {
    if (MatcherOnDefaultList(name) != FnmatchOnDefaultList(name)) std::printf("  (results differ for %s)\n", name);
    double ours = 1e300, theirs = 1e300;
    for (int pass = 0; pass < 5; ++pass) {
      ours = std::min(ours, BestPerCall([&] { return MatcherOnDefaultList(name); }, 200000, 3));
      theirs = std::min(theirs, BestPerCall([&] { return FnmatchOnDefaultList(name); }, 200000, 3));
    }
    sumOurs += ours;
    sumTheirs += theirs;
    std::printf("%-42s %12.1f %12.1f %7.2fx\n", name, ours, theirs, ours / theirs);
  }
  std::printf("%-42s %12.1f %12.1f %7.2fx\n", "all names", sumOurs, sumTheirs, sumOurs / sumTheirs);

  // "*a" x 30 + "b": no match is possible, and a search that retries every star explodes.
  const std::string stars = Repeat("*a", 30) + "b";
  std::printf("\npattern (*a)x30 b against names of 'a' (target: under 1 ms at 4096)\n");
  std::printf("%-12s %12s %12s %8s\n", "name length", "matcher us", "fnmatch us", "ratio");
  for (int length : {64, 256, 1024, 4096}) {
    const std::string name(length, 'a');
    const double ours =
        BestPerCall([&] { return zelnar::MatchesPattern(name.c_str(), stars.c_str(), kNoLeadBytes); }, 50, 5);
    // One probing call first: an fnmatch that retries every star would never finish on the longer
    // names, so the names stop growing once a single call takes more than 100 ms.
    const double probe = BestPerCall([&] { return fnmatch(stars.c_str(), name.c_str(), FNM_CASEFOLD); }, 1, 1);
    if (probe > 100e6) {
      std::printf("%-12d %12.3f  fnmatch stopped: one call took %.0f ms\n", length, ours / 1e3, probe / 1e6);
      break;
    }
    const double theirs = BestPerCall([&] { return fnmatch(stars.c_str(), name.c_str(), FNM_CASEFOLD); }, 50, 5);
    std::printf("%-12d %12.3f %12.3f %7.2fx\n", length, ours / 1e3, theirs / 1e3, ours / theirs);
  }
  return 0;
}
