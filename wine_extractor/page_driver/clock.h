// The one clock of the page service: limits, heartbeat and the engine's watch all count on it.
#pragma once

#include <time.h>

#include <cstdint>

namespace wine_extractor {

// How often time limits, hosts, the engine's health and its memory are looked at while pages are
// drawn: a page that grows by 150 MB a second overshoots the ceiling by 15 MB at most.
inline constexpr int kSampleMs = 100;

inline int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace wine_extractor
