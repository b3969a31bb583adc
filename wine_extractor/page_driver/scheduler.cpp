#include "wine_extractor/page_driver/scheduler.h"

#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <exception>

#include "wine_extractor/page_driver/clock.h"
#include "wine_extractor/page_driver/memory_watch.h"

namespace wine_extractor {
namespace {

// Warm engine pages are kept this long after the last page came or went; an idle service holds none.
constexpr int64_t kSpareKeepMs = 2000;
// A page keeps drawing pictures only while every renderer holds less than this share of the page's
// memory ceiling: a renderer that grew on one page would count against the next.
constexpr uint64_t kWarmShareOfCeiling = 4;
// A page whose renderer crashes this soon after the memory watch ended the largest one is that page.
constexpr int64_t kVictimMs = 5000;

}  // namespace

Scheduler::Scheduler(std::string program, std::vector<std::string> arguments, uint32_t parallel, bool prepare)
    : program_(std::move(program)), arguments_(std::move(arguments)), parallel_(std::max(1u, parallel)), prepare_(prepare) {
  // Every page holds its files open while the engine reads them: as many descriptors as allowed.
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

Scheduler::~Scheduler() { DropEngine(); }

std::vector<std::string> Scheduler::Drawing() const {
  std::vector<std::string> ids;
  for (const std::unique_ptr<Slot>& slot : slots_) ids.push_back(slot->order.id);
  return ids;
}

void Scheduler::StartEngine() {
  if (engine_) return;
  engine_ = std::make_unique<EngineConnection>(program_, arguments_);
  healthy_ = true;
}

void Scheduler::Take(PageOrder order) {
  auto slot = std::make_unique<Slot>();
  slot->order = std::move(order);
  slots_.push_back(std::move(slot));
  lastPageMs_ = NowMs();
  Slot& page = *slots_.back();
  try {
    StartEngine();
    // A warm page that failed meanwhile (its renderer ended, say) is no page's: a new one.
    DropFailedWarm();
    if (!warm_.empty()) {
      page.run = std::move(warm_.back());
      warm_.pop_back();
      page.run->Draw(page.order.job.page, page.order.scope, page.order.job.width, page.order.job.height);
    } else {
      Open(page);
    }
    OpenSpare();
  } catch (const Stop& stop) {
    EngineFailed(stop);
  } catch (const std::exception& failure) {
    EngineFailed(Stop{kDriverEngine, std::string("the driver failed: ") + failure.what()});
  }
  Settle();
}

void Scheduler::Open(Slot& slot) {
  slot.run = std::make_unique<PageRun>(engine_->Pipe(), engine_->Table());
  slot.run->Open();
  slot.run->Draw(slot.order.job.page, slot.order.scope, slot.order.job.width, slot.order.job.height);
}

void Scheduler::OpenSpare() {
  if (!prepare_ || !warm_.empty() || !engine_ || slots_.size() >= parallel_ || NowMs() - lastPageMs_ > kSpareKeepMs)
    return;
  warm_.push_back(std::make_unique<PageRun>(engine_->Pipe(), engine_->Table()));
  warm_.back()->Open();
}

void Scheduler::DropFailedWarm() {
  warm_.erase(std::remove_if(warm_.begin(), warm_.end(), [](const std::unique_ptr<PageRun>& run) { return run->Done(); }),
              warm_.end());
}

void Scheduler::Fail(const std::string& id, const Stop& stop) {
  for (const std::unique_ptr<Slot>& slot : slots_)
    if (slot->order.id == id && slot->run) slot->run->Fail(stop);
  Settle();
}

bool Scheduler::Turn(int waitMs, int wake) {
  const int64_t now = NowMs();
  int64_t until = std::min<int64_t>(now + waitMs, std::max(now, nextTick_));
  // A page whose frame came without a picture is asked again shortly.
  for (const std::unique_ptr<Slot>& slot : slots_) {
    const int64_t at = slot->run ? slot->run->FrameWantedSince() : 0;
    if (at > now && slot->run->WantsFrame(at)) until = std::min(until, at);
  }
  pollfd ready[3] = {{wake, POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLOUT, 0}};
  if (engine_) {
    ready[1].fd = engine_->ReadDescriptor();
    ready[2].fd = engine_->WriteDescriptor();
  }
  poll(ready, 3, int(std::max<int64_t>(0, until - now)));
  try {
    if (engine_ && ready[1].revents) {
      engine_->Read([this](PageRun& page, const JsonValue& message) {
        if (message["id"].Whole())
          Guarded(page, [&](PageRun& run) { run.OnReply(message); });
        else
          Guarded(page, [&](PageRun& run) { run.OnEvent(message); });
      });
    }
    Tick();
    AskFrame(NowMs());
    if (engine_) engine_->Flush();
  } catch (const Stop& stop) {
    EngineFailed(stop);
  } catch (const std::exception& failure) {
    // No memory for a message, say: the pages in flight fail, a new engine draws the next ones.
    EngineFailed(Stop{kDriverEngine, std::string("the driver failed: ") + failure.what()});
  }
  Settle();
  return ready[0].fd >= 0 && (ready[0].revents & POLLIN);
}

// The engine draws one frame at a time (frames of several pages asked at once have ended its GPU
// process): the page waiting longest for one gets the next, once the last one came back. However
// fast a page loaded, the engine is measured once before it may give a picture.
void Scheduler::AskFrame(int64_t now) {
  Slot* next = nullptr;
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (!slot->run) continue;
    if (slot->run->FrameInFlight()) return;
    if (slot->run->WantsFrame(now) &&
        (!next || slot->run->FrameWantedSince() < next->run->FrameWantedSince()))
      next = slot.get();
  }
  if (!next) return;
  nextTick_ = 0;
  Tick();
  if (next->run && next->run->WantsFrame(NowMs())) Guarded(*next->run, [](PageRun& run) { run.StartCapture(); });
}

template <typename Fn>
void Scheduler::Guarded(PageRun& page, Fn fn) {
  try {
    fn(page);
  } catch (const Stop& stop) {
    page.Fail(stop);
  } catch (const std::exception& failure) {
    page.Fail(Stop{kDriverEngine, std::string("the driver failed: ") + failure.what()});
  }
  // The renderer the memory watch ended: the page that grew over the ceiling.
  if (page.Done() && page.Crashed() && victim_.at && NowMs() - victim_.at < kVictimMs) {
    const std::string why = victim_.why;
    victim_.at = 0;
    page.Blame(Stop{kDriverMemory, why});
  }
}

// Every kSampleMs: each page's time limit, the engine's health and its memory.
void Scheduler::Tick() {
  const int64_t now = NowMs();
  if (now < nextTick_) return;
  nextTick_ = now + kSampleMs;
  if (!engine_) {
    healthy_ = true;
    return;
  }
  uint64_t ceiling = UINT64_MAX;
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (!slot->run || slot->run->Done()) continue;
    if (now > slot->order.deadline) {
      slot->run->Fail(Stop{kDriverTimedOut, "the page took longer than its time limit"});
      continue;
    }
    Guarded(*slot->run, [now](PageRun& run) { run.Tick(now); });
    ceiling = std::min(ceiling, uint64_t(slot->order.job.memoryLimitMb) << 20);
  }
  DropFailedWarm();
  if (slots_.empty() && now - lastPageMs_ > kSpareKeepMs) warm_.clear();
  try {
    engine_->Watch(now);
  } catch (const Stop& stop) {
    healthy_ = false;
    EngineFailed(stop);
    return;
  }
  healthy_ = true;
  if (ceiling == UINT64_MAX) return;
  const MemoryVerdict memory = WatchMemory(engine_->Process(), ceiling);
  if (memory.what == MemoryVerdict::What::kRendererEnded) {
    victim_.at = now;
    victim_.why = memory.why;
  } else if (memory.what == MemoryVerdict::What::kEngineOver) {
    EngineFailed(Stop{kDriverMemory, memory.why});
  }
}

// The engine ended, broke the protocol, went over its ceiling or stopped answering: every page of it
// fails with that reason, but a page it had not begun to draw gets a new engine once.
void Scheduler::EngineFailed(Stop stop) {
  if (stop.code == kDriverEngine) {
    // The end of what the engine said, on the answer's one line.
    std::string said = EngineLogTail(400);
    std::replace(said.begin(), said.end(), '\n', '|');
    if (!said.empty()) stop.why += "; the engine said: " + said;
  }
  std::vector<Slot*> again;
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (slot->run && slot->run->Done()) continue;
    if (stop.code == kDriverEngine && !slot->again && !(slot->run && slot->run->Navigated())) {
      slot->again = true;
      again.push_back(slot.get());
    } else if (slot->run) {
      slot->run->Fail(stop);
    } else {
      Finish(*slot, stop);
    }
  }
  // Finished pages keep their outcome; the others' runs go with the engine.
  for (const std::unique_ptr<Slot>& slot : slots_)
    if (slot->run && slot->run->Done()) Finish(*slot, slot->run->Outcome());
  DropEngine();
  if (again.empty()) return;
  try {
    StartEngine();
    for (Slot* slot : again) Open(*slot);
  } catch (const Stop& failed) {
    for (Slot* slot : again) Finish(*slot, failed);
    DropEngine();
  }
}

void Scheduler::Finish(Slot& slot, Stop outcome) {
  if (slot.order.id.empty()) return;  // answered already
  FinishedPage page{slot.order.id, std::move(outcome), {}, {}};
  if (slot.run) {
    if (page.outcome.code == kDriverOk) page.picture = std::move(slot.run->Picture());
    page.refusals = slot.run->Refusals();
  }
  finished_.push_back(std::move(page));
  slot.order.id.clear();
}

// Pages done with leave their slots; their contexts go.
void Scheduler::Settle() {
  bool settled = false;
  for (size_t i = 0; i < slots_.size();) {
    Slot& slot = *slots_[i];
    // The engine failed the page before it took it to load (the context made ahead for it had
    // failed, say): a new context, once. Nothing of another page's failure is inherited.
    if (slot.run && slot.run->Done() && slot.run->Outcome().code == kDriverEngine && !slot.run->Navigated() &&
        !slot.again && engine_) {
      slot.again = true;
      try {
        Open(slot);
      } catch (const Stop& stop) {
        slot.run->Fail(stop);
      }
    }
    if (slot.run && slot.run->Done()) {
      Finish(slot, slot.run->Outcome());
      // A page that gave its picture draws the next one, unless its renderer may have grown; any
      // other goes with its renderer.
      const uint64_t ceiling = uint64_t(slot.order.job.memoryLimitMb) << 20;
      if (prepare_ && engine_ && warm_.size() < parallel_ && slot.run->Outcome().code == kDriverOk &&
          LargestRendererBytes(engine_->Process()) < ceiling / kWarmShareOfCeiling && slot.run->Recycle())
        warm_.push_back(std::move(slot.run));
    }
    if (!slot.order.id.empty()) {
      ++i;
      continue;
    }
    slots_.erase(slots_.begin() + ptrdiff_t(i));
    settled = true;
  }
  if (settled) {
    lastPageMs_ = NowMs();
    try {
      OpenSpare();
    } catch (const Stop& stop) {
      EngineFailed(stop);
    }
  }
}

void Scheduler::DropEngine() {
  // Every page's run before the connection it speaks through.
  for (const std::unique_ptr<Slot>& slot : slots_) slot->run.reset();
  warm_.clear();
  engine_.reset();
  victim_.at = 0;
}

}  // namespace wine_extractor
