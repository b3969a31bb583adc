// The service's spool: a private folder of this account that one service claims (holding its lock,
// working from inside it), shows its heartbeat in, and removes once it has been idle. Linux only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {

class Spool {
 public:
  explicit Spool(std::string path) : path_(std::move(path)) {}

  // The folder is ours alone (this account's, private, not a link), it is where the service works
  // from now on, whatever its name comes to hold, and no other service serves it. False: leave it to
  // the other one. A frozen service holding it is ended.
  bool Claim();
  // Touches the `service` file now and then: the sign that this service and its engine are alive.
  void Beat();
  // Readable when a file may have come; Drain() before waiting again.
  int WakeDescriptor() const { return inotify_.Get(); }
  void Drain();
  // Removes the folder and everything of ours in it, unless a page came meanwhile (false: serve on).
  bool End();

 private:
  bool Announce();

  std::string path_;
  struct stat folder_ {};
  UniqueFd lock_, inotify_;
  int64_t lastBeat_ = 0;
};

}  // namespace wine_extractor
