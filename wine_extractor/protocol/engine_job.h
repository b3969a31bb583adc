// What one render asks of the browser engine, written out as the shell script that runs the page
// driver (and through it the engine) under a time limit. Portable.
#pragma once

#include <cstdint>
#include <string>

#include "wine_extractor/protocol/driver_status.h"

namespace wine_extractor {

// The names inside a call's private folder. The script writes the status last, so its presence means
// the engine and every helper process of it have ended and the scratch folder is gone.
inline constexpr char kPictureName[] = "page.png";
inline constexpr char kStatusName[] = "status";
inline constexpr char kAbandonedName[] = "abandoned";
// The host's sign of life: the script takes it away, the waiting extractor puts it back.
inline constexpr char kAliveName[] = "alive";
// What the page driver says of a failure (with the last of the engine's own messages).
inline constexpr char kLogName[] = "log";
// Held by the render while it runs: the folder of a call whose lock is free is an orphan.
inline constexpr char kCallLockName[] = "lock";

// Exit statuses of coreutils timeout that mean the limit was hit (TERM, or KILL after the grace); the
// driver's own statuses are in driver_status.h.
inline constexpr int kTimedOutStatus = kDriverTimedOut;
inline constexpr int kKilledStatus = 137;
// Statuses for a driver that cannot be run at all.
inline constexpr int kNotExecutableStatus = 126;
inline constexpr int kNotFoundStatus = 127;

struct EngineJob {
  std::string driver;    // Unix path of zelnar-page-driver
  std::string engine;    // Unix path of the engine's program
  std::string workDir;   // Unix path of the call's private folder, without a trailing slash
  std::string page;      // Unix path of the page
  int32_t width = 0;
  int32_t height = 0;
  uint32_t timeLimitMs = 0;
  uint32_t memoryLimitMb = 0;
  bool strictFolder = false;
  bool watchHost = false;  // the host keeps kAliveName: the engine ends when it stays away
};

// The variable through which the script hands the page driver its memory ceiling, in megabytes.
inline constexpr char kDriverMemoryVariable[] = "ZELNAR_BROWSER_MEMORY_LIMIT_MB";
// And the one through which it says "1" for the strict folder rule.
inline constexpr char kDriverStrictVariable[] = "ZELNAR_BROWSER_STRICT_FOLDER";

// `text` as one sh word, in single quotes.
std::string ShellQuote(const std::string& text);

// A file: URL for an absolute Unix path: every byte but unreserved ones and '/' percent-encoded,
// so spaces, quotes and UTF-8 names survive in any attribute or argument.
std::string FileUrl(const std::string& unixPath);

// The sh script for one render, run as `sh -c`: it first removes the folders of earlier calls that
// no render holds, then makes the call's private folder (or takes a private one of this account's;
// anything else makes it exit with nothing written). It runs the driver (which runs the engine) in its own process group
// under `timeout`, kills what is left of that group, removes the engine's home and temporary
// folders, and only then writes its exit status into kStatusName, on every way out. With
// `watchHost` the engine ends as soon as kAliveName stays away (the host is gone); a folder marked
// kAbandonedName, or whose host is gone, is removed whole.
std::string RunScript(const EngineJob& job);

// The sh script, run as `sh -c`, that starts the page service in the first spool name under `temp`
// (a Unix path) that is ours (SpoolName): the driver in a session of its own, detached from the
// host, with the engine's home and temporary folders in the spool's scratch folder and the spool's
// path as the marker of its processes. `parallel` pages at once (ZELNAR_BROWSER_PARALLEL); 0 leaves
// it to the driver.
std::string ServiceScript(const std::string& driver, const std::string& engine, const std::string& temp,
                          uint32_t idleMs, uint32_t parallel = 0);

// The time limit as `timeout` reads it: seconds with three decimals.
std::string TimeoutSeconds(uint32_t milliseconds);

}  // namespace wine_extractor
