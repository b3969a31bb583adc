// The pages being drawn over one engine: a slot each, up to a number at once, each with its time
// limit, warm engine pages that draw one picture after another (one made ahead while pages come,
// none kept once the service idles), and one frame asked of the engine at a time. The
// engine and its health are the connection's (engine_connection.h): one that is stopped, gone, over
// its memory or asleep is ended, the pages it was drawing fail with that reason, and the next pages get
// a new engine. Linux only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/engine_connection.h"
#include "wine_extractor/page_driver/page_run.h"
#include "wine_extractor/page_driver/request_policy.h"
#include "wine_extractor/page_driver/stop.h"
#include "wine_extractor/protocol/page_job.h"

namespace wine_extractor {

// A page to draw, as the job queue hands it over.
struct PageOrder {
  std::string id;
  PageJob job;
  PageScope scope;
  int64_t deadline = 0;  // on NowMs()'s clock
};

// A page done with: its picture (outcome 0) or why not.
struct FinishedPage {
  std::string id;
  Stop outcome;
  std::string picture;
  RefusalLog refusals;
};

class Scheduler {
 public:
  // `prepare`: an engine page is made ahead for the next picture and kept warm while pages come.
  Scheduler(std::string program, std::vector<std::string> arguments, uint32_t parallel, bool prepare);
  ~Scheduler();
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  bool Free() const { return slots_.size() < parallel_; }
  bool Busy() const { return !slots_.empty(); }
  // The ids of the pages being drawn.
  std::vector<std::string> Drawing() const;
  // Starts drawing a page; a page that cannot even start is finished at once.
  void Take(PageOrder order);
  // Ends the page `id` with `stop` (its host is gone, say).
  void Fail(const std::string& id, const Stop& stop);
  // Waits up to `waitMs` for the engine or for `wake` (-1: none), then moves every page on, watches
  // the engine and the time limits. True when `wake` is readable.
  bool Turn(int waitMs, int wake);
  std::vector<FinishedPage> TakeFinished() { return std::move(finished_); }
  // No engine, or one that was sound when last looked at.
  bool Healthy() const { return healthy_; }
  // Ends the engine and everything of it, while no page is drawn.
  void DropEngine();
  // The engine failed (or the service, around it): every page of it fails with that reason, but a
  // page it had not begun to draw gets a new engine once.
  void EngineFailed(Stop stop);

 private:
  struct Slot {
    PageOrder order;
    std::unique_ptr<PageRun> run;
    bool again = false;  // given a new engine or context once already
  };

  void StartEngine();
  void Open(Slot& slot);
  void OpenSpare();
  void DropFailedWarm();
  template <typename Fn>
  void Guarded(PageRun& page, Fn fn);
  void Tick();
  void AskFrame(int64_t now);
  void Settle();
  void Finish(Slot& slot, Stop outcome);

  std::string program_;
  std::vector<std::string> arguments_;
  uint32_t parallel_;
  bool prepare_;
  std::unique_ptr<EngineConnection> engine_;
  // Engine pages ready for the next picture (or clearing the last one), at most one a slot.
  std::vector<std::unique_ptr<PageRun>> warm_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<FinishedPage> finished_;
  int64_t nextTick_ = 0, lastPageMs_ = 0;
  bool healthy_ = true;
  struct {
    int64_t at = 0;
    std::string why;
  } victim_;  // the renderer the memory watch ended, until its page is found
};

}  // namespace wine_extractor
