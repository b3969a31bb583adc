// One engine and the connection to it: its process, its DevTools pipe, the table that routes each of
// its messages to the page it belongs to, and its health, judged by what it does: gone or stopped is
// found at once; a browser that runs, uses processor time or sends anything is busy, never dead,
// however slowly it answers. Linux only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/devtools_pipe.h"
#include "wine_extractor/page_driver/engine_process.h"
#include "wine_extractor/page_driver/json_value.h"
#include "wine_extractor/page_driver/routes.h"

namespace wine_extractor {

class EngineConnection {
 public:
  // Starts the engine `program` with `arguments`; raises Stop.
  EngineConnection(const std::string& program, const std::vector<std::string>& arguments);
  EngineConnection(const EngineConnection&) = delete;
  EngineConnection& operator=(const EngineConnection&) = delete;

  DevToolsPipe& Pipe() { return pipe_; }
  Routes& Table() { return routes_; }
  const EngineProcess& Process() const { return process_; }

  int ReadDescriptor() const { return pipe_.ReadDescriptor(); }
  // The pipe to wait for while something waits to be written; -1 while nothing does.
  int WriteDescriptor() const { return pipe_.Pending() ? pipe_.WriteDescriptor() : -1; }

  // A message of a page: a reply to its command, or an event of its session or target.
  using ToPage = std::function<void(PageRun& page, const JsonValue& message)>;
  // Reads what the engine sent and hands each message to the page it belongs to; the engine's own
  // news and what belongs to no page are dealt with here. Raises Stop when the engine ended or broke
  // the protocol.
  void Read(const ToPage& toPage);
  void Flush() { pipe_.Flush(); }

  // Looks at the engine now; raises Stop when it is gone, stopped, or asleep without answering.
  void Watch(int64_t now);

 private:
  EngineProcess process_;
  DevToolsPipe pipe_;
  Routes routes_;
  // The cheap command that shows the engine answers, and since when it waits for its answer.
  int ping_ = 0;
  int64_t pingSince_ = 0, nextPing_ = 0;
  bool answered_ = false;  // the engine answered once: it has started
  // The engine's last sign of life, and the processor time it had used then.
  int64_t lifeMs_ = 0;
  uint64_t cpuTicks_ = 0;
};

}  // namespace wine_extractor
