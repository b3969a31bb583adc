// The DevTools protocol over the engine's pipe: NUL-ended JSON messages both ways, read as they come
// and written as the engine reads, neither ever blocking, so one large message holds up no page, no
// time limit and no heartbeat. Linux only.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "wine_extractor/page_driver/json_object.h"
#include "wine_extractor/page_driver/json_value.h"
#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {

// One message from the engine may be at most this large (a picture of 16384 x 16384 pixels fits);
// a larger one fails the engine.
inline constexpr size_t kMaxMessageBytes = kMaxJsonBytes;

class DevToolsPipe {
 public:
  DevToolsPipe(UniqueFd toEngine, UniqueFd fromEngine);

  // Queues a command; its id. Nothing is written before Flush().
  int Send(const std::string& method, const JsonObject& params, const std::string& session = "");
  // The same with `params` as JSON text (one of the driver's fixed parameters).
  int Send(const std::string& method, const std::string& params = "{}", const std::string& session = "");
  // Writes what the engine takes now; raises Stop when it is gone.
  void Flush();
  // Whether a command waits to be written, and whether all of command `id` has been.
  bool Pending() const { return !outgoing_.empty(); }
  bool Written(int id) const;
  // When the engine last took bytes of ours (or when the queue was last empty), and when it last sent
  // some: while a large message goes either way, no other can.
  int64_t LastProgressMs() const { return progressMs_; }
  int64_t LastReadMs() const { return readMs_; }

  // Reads what the engine sent meanwhile; raises Stop when it is gone or sends too much at once.
  void Fill();
  // The next whole message read; raises Stop when it is no JSON.
  std::optional<JsonValue> Next();

  int ReadDescriptor() const { return from_.Get(); }
  int WriteDescriptor() const { return to_.Get(); }

 private:
  size_t MessageEnd();

  UniqueFd to_, from_;
  int lastId_ = 0;
  struct Outgoing {
    int id;
    std::string bytes;
  };
  std::deque<Outgoing> outgoing_;
  size_t written_ = 0;  // of the first outgoing message
  int writtenId_ = 0;   // every command up to this one is written whole
  int64_t progressMs_ = 0, readMs_ = 0;
  std::string buffer_;  // messages from start_ on; those before scanned_ hold no end
  size_t start_ = 0, scanned_ = 0;
};

}  // namespace wine_extractor
