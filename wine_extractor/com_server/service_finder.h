// Where the extractor finds its page service: the spool of its driver in the meeting folder on the
// Linux side (protocol/meeting_folder.h), reached through the folder's Unix path (Z:, or Wine's
// \\?\unix\ form in a prefix without it). A service there is trusted for what it is, never for what
// a file or its command line says. Windows (Wine) only.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "wine_extractor/com_server/windows_file.h"
#include "wine_extractor/protocol/engine_settings.h"
#include "wine_extractor/protocol/meeting_folder.h"
#include "wine_extractor/protocol/proc_stat.h"

namespace wine_extractor {

struct Service {
  ProcessIdentity identity;
  std::wstring folder;  // its spool, as its own current folder
};

// What /proc shows of a process: gone (or another process with its number), stopped (kill -STOP, a
// debugger), runnable (running or waiting for a processor: busy, however long it takes), or waiting
// for something else.
enum class ProcessState { kGone, kStopped, kRunnable, kWaiting };
ProcessState StateOf(const ProcessIdentity& identity);
inline bool Alive(ProcessState state) { return state == ProcessState::kRunnable || state == ProcessState::kWaiting; }

// Alive and not frozen: its `service` file touched within kServiceFrozenMs, or runnable (a starved
// machine delays its heartbeat, it does not stop it). A missing file is a service between two
// announcements.
bool Healthy(const Service& service);

class SpoolPlaces {
 public:
  // The spool of `driver` (a Unix path) in the meeting folder under the runtime folder, then in the
  // one under the cache, as `settings` and the home Wine passes on to Linux programs name them.
  // Raises Failure when the driver cannot be found or no folder is named.
  SpoolPlaces(const std::string& driver, const EngineSettings& settings);

  const std::string& Name() const noexcept { return name_; }

  // A healthy service other than `replaced` in one of the spools: the process that the spool's
  // `service` file names, when /proc shows it running, of this account, its program the very file
  // `driver`, and its current folder the spool itself.
  std::optional<Service> Find(const std::optional<ProcessIdentity>& replaced) const;

  // Why no service can start in any of them, as far as Wine shows what is wrong on the way (a link,
  // a file where a folder belongs); empty when it shows nothing. With `all`, what is wrong also when
  // some place might still do.
  std::wstring WhyNot(bool all) const;

 private:
  std::string name_;
  std::vector<FolderWay> ways_;
  std::vector<std::wstring> spools_;
  FileIdentity driver_;
};

}  // namespace wine_extractor
