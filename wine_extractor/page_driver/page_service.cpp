#include "wine_extractor/page_driver/page_service.h"

#include <algorithm>
#include <exception>

#include "wine_extractor/page_driver/clock.h"
#include "wine_extractor/page_driver/job_queue.h"
#include "wine_extractor/page_driver/queue_reporter.h"
#include "wine_extractor/page_driver/scheduler.h"
#include "wine_extractor/page_driver/spool.h"

namespace wine_extractor {
namespace {

// A service that ends as soon as it has no page still waits this long for its first one: the host
// that started it hands the page in once it has seen it run.
constexpr int64_t kFirstPageMs = 3000;

}  // namespace

// One loop on one clock: take the jobs there is room for, let the scheduler move the pages on, answer
// the pages done with, stop the pages whose host went away, beat while the engine is sound, say where
// each job stands, and end after the idle time.
int RunService(OpenedSpool opened, const std::string& program, const std::vector<std::string>& arguments,
               uint32_t idleMs, uint32_t parallel) {
  Spool spool(std::move(opened));
  if (!spool.Claim()) return 0;
  JobQueue queue;
  QueueReporter report;
  // A service that ends as soon as it has no page makes nothing ahead.
  Scheduler scheduler(program, arguments, parallel, idleMs > 0);
  int64_t lastWork = NowMs(), nextHostCheck = 0;
  bool served = false;
  for (;;) {
    try {
      while (scheduler.Free()) {
        const std::optional<std::string> id = queue.Next();
        if (!id) break;
        if (std::optional<PageOrder> order = queue.Take(*id)) scheduler.Take(std::move(*order));
        lastWork = NowMs();
        served = true;
      }
      const int64_t idleLimit = served ? int64_t(idleMs) : std::max<int64_t>(idleMs, kFirstPageMs);
      const int wait = scheduler.Busy() ? kSampleMs : int(std::clamp<int64_t>(idleLimit - (NowMs() - lastWork), 0, 1000));
      if (scheduler.Turn(wait, spool.WakeDescriptor())) spool.Drain();
      for (const FinishedPage& page : scheduler.TakeFinished()) queue.Answer(page);
      const int64_t now = NowMs();
      if (scheduler.Busy()) {
        lastWork = now;
        if (now >= nextHostCheck) {
          nextHostCheck = now + kSampleMs;
          for (const std::string& id : scheduler.Drawing())
            if (!queue.HostWaits(id, now)) scheduler.Fail(id, Stop{kDriverHostGone, "the host stopped waiting"});
        }
      }
      if (scheduler.Healthy()) spool.Beat();
      // Moved aside or replaced, the folder is no host's way to this service any more.
      if (spool.Moved()) {
        scheduler.EngineFailed(Stop{kDriverEngine, "the service's folder was moved away"});
        for (const FinishedPage& page : scheduler.TakeFinished()) queue.Answer(page);
        spool.Leave();
        return 0;
      }
      report.Publish(queue, scheduler.Drawing(), now);
      if (scheduler.Busy() || now - lastWork < idleLimit || queue.Next()) continue;
      scheduler.DropEngine();
      report.Withdraw();
      if (spool.End()) return 0;
      // Files of a host about to collect its answer keep the folder: look again shortly.
      lastWork = now - idleLimit + 100;
    } catch (const std::exception& failure) {
      // The service itself failed (no memory, say): the pages in flight fail, the next ones get a new engine.
      scheduler.EngineFailed(Stop{kDriverEngine, std::string("the service failed: ") + failure.what()});
      for (const FinishedPage& page : scheduler.TakeFinished()) queue.Answer(page);
    }
  }
}

}  // namespace wine_extractor
