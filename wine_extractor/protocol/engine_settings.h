// Which engine the extractor runs and how long it may take; read from the environment on each call,
// so a user sets them when starting Wine and a test between two calls.
#pragma once

#include <cstdint>
#include <string>

namespace wine_extractor {

inline constexpr char kDefaultEngine[] = "/usr/bin/chromium-headless-shell";
inline constexpr uint32_t kDefaultTimeLimitMs = 20000;
inline constexpr uint32_t kMaxTimeLimitMs = 600000;
// The engine's whole process tree may hold this much resident memory; beyond it the render fails.
inline constexpr uint32_t kDefaultMemoryLimitMb = 2048;
inline constexpr uint32_t kMaxMemoryLimitMb = 1048576;
// The page service ends after this long without a page.
inline constexpr uint32_t kDefaultIdleMs = 30000;
inline constexpr uint32_t kMaxIdleMs = 3600000;

// ZELNAR_BROWSER_ENGINE: Unix path of the engine. ZELNAR_BROWSER_TIME_LIMIT_MS: milliseconds.
// ZELNAR_BROWSER_DRIVER: Unix path of the page driver, which otherwise lies beside the extractor.
inline constexpr wchar_t kEngineVariable[] = L"ZELNAR_BROWSER_ENGINE";
inline constexpr wchar_t kDriverVariable[] = L"ZELNAR_BROWSER_DRIVER";
inline constexpr char kDriverName[] = "zelnar-page-driver";
inline constexpr wchar_t kTimeLimitVariable[] = L"ZELNAR_BROWSER_TIME_LIMIT_MS";
// ZELNAR_BROWSER_MEMORY_LIMIT_MB: megabytes (2^20 bytes).
inline constexpr wchar_t kMemoryLimitVariable[] = L"ZELNAR_BROWSER_MEMORY_LIMIT_MB";
// ZELNAR_BROWSER_KEEP_ALIVE: "0" makes the page service end as soon as it has no page (no engine is
// left running once the picture is drawn); anything else keeps it for the idle time.
// ZELNAR_BROWSER_IDLE_MS: how long the service waits for a page.
inline constexpr wchar_t kKeepAliveVariable[] = L"ZELNAR_BROWSER_KEEP_ALIVE";
inline constexpr wchar_t kIdleVariable[] = L"ZELNAR_BROWSER_IDLE_MS";
// ZELNAR_BROWSER_STRICT_FOLDER: "1" lets a page load stylesheets, fonts and pictures, too, only from
// its own folder and below.
inline constexpr wchar_t kStrictFolderVariable[] = L"ZELNAR_BROWSER_STRICT_FOLDER";

// ZELNAR_BROWSER_PARALLEL: how many pages the page service draws at once; by default one: the memory
// ceiling counts for the engine as a whole, so two large pages drawn at once can go over it where
// each alone would not. Read by the service when it starts.
inline constexpr wchar_t kParallelVariable[] = L"ZELNAR_BROWSER_PARALLEL";
inline constexpr char kServiceParallelVariable[] = "ZELNAR_BROWSER_PARALLEL";
inline constexpr uint32_t kMaxParallel = 64;
inline constexpr uint32_t kDefaultParallel = 1;

inline constexpr wchar_t kRuntimeDirVariable[] = L"XDG_RUNTIME_DIR";
inline constexpr wchar_t kCacheHomeVariable[] = L"XDG_CACHE_HOME";

struct EngineSettings {
  std::string engine = kDefaultEngine;  // UTF-8, as Unix paths are under Wine
  std::string driver;                   // empty: beside the extractor's DLL
  uint32_t timeLimitMs = kDefaultTimeLimitMs;
  uint32_t memoryLimitMb = kDefaultMemoryLimitMb;
  uint32_t idleMs = kDefaultIdleMs;  // 0: the service ends as soon as it has no page
  bool strictFolder = false;
  uint32_t parallel = 0;  // 0: the service's default
  // XDG_RUNTIME_DIR and XDG_CACHE_HOME, which name the meeting folder (meeting_folder.h).
  std::string runtimeDir;
  std::string cacheHome;
};

// Decimal milliseconds from 1 to kMaxTimeLimitMs; anything else (empty, signs, spaces, out of range)
// gives `fallback`, so a mistyped value never means "no limit".
uint32_t ParseTimeLimit(const std::string& text, uint32_t fallback);
// Decimal from 1 to `max`; anything else gives `fallback`.
uint32_t ParseSetting(const std::string& text, uint32_t max, uint32_t fallback);

}  // namespace wine_extractor
