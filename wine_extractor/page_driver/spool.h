// The service's spool: a private folder of this account that one service claims (holding its lock,
// working from inside it), shows its heartbeat in, and removes once it has been idle. Linux only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

#include "wine_extractor/page_driver/meeting_place.h"
#include "wine_extractor/page_driver/scratch_folder.h"
#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {

class Spool {
 public:
  // The spool as the walk opened it, with every folder above it.
  explicit Spool(OpenedSpool opened);

  // The folder is ours alone (this account's, private, not a link), it is where the service works
  // from now on, whatever its name comes to hold, and no other service serves it. False: leave it to
  // the other one. A frozen service holding it is ended. Then what services that are gone left in
  // the meeting folder is removed, and the engine's scratch folder made beside the spool and handed
  // to the engine through the environment it inherits.
  bool Claim();
  // Whether the spool's name, and each name above it, no longer leads to the folder held open: it
  // was moved, removed or replaced, and no host finds the service there. Looked at now and then.
  bool Moved();
  // Takes the service's own files out of a folder that was moved: nothing there names it any more.
  void Leave();
  // Touches the `service` file now and then: the sign that this service and its engine are alive.
  void Beat();
  // Readable when a file may have come; Drain() before waiting again.
  int WakeDescriptor() const { return inotify_.Get(); }
  void Drain();
  // Removes the folder and everything of ours in it, unless a page came meanwhile (false: serve on).
  bool End();

 private:
  bool Announce();

  FolderChain meeting_;
  UniqueFd folder_;
  std::string name_;
  struct stat info_ {};
  std::unique_ptr<ScratchFolder> scratch_;
  UniqueFd lock_, inotify_;
  int64_t lastBeat_ = 0, lastLook_ = 0;
  bool moved_ = false;
};

}  // namespace wine_extractor
