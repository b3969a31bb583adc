#include "wine_extractor/page_driver/scheduler.h"

#include <poll.h>

#include <algorithm>
#include <exception>

#include "wine_extractor/page_driver/clock.h"
#include "wine_extractor/page_driver/memory_watch.h"

namespace wine_extractor {
namespace {

// An engine that has answered once answers a cheap command within this long of its last sign of life,
// or is ended.
constexpr int64_t kAnswerMs = 1000;
// What a starting engine may take for its first answer.
constexpr int64_t kStartMs = 20000;
// How often the engine is asked that cheap command.
constexpr int64_t kPingEveryMs = 500;
// A context made ahead is kept this long after the last page came or went; an idle service holds none.
constexpr int64_t kSpareKeepMs = 2000;
// A page whose renderer crashes this soon after the memory watch ended the largest one is that page.
constexpr int64_t kVictimMs = 5000;

}  // namespace

Scheduler::Scheduler(std::string program, std::vector<std::string> arguments, uint32_t parallel, bool prepare)
    : program_(std::move(program)), arguments_(std::move(arguments)), parallel_(std::max(1u, parallel)), prepare_(prepare) {}

Scheduler::~Scheduler() { DropEngine(); }

std::vector<std::string> Scheduler::Drawing() const {
  std::vector<std::string> ids;
  for (const std::unique_ptr<Slot>& slot : slots_) ids.push_back(slot->order.id);
  return ids;
}

void Scheduler::StartEngine() {
  if (engine_) return;
  engine_ = std::make_unique<EngineProcess>(program_, arguments_, EngineLogPath());
  pipe_ = std::make_unique<DevToolsPipe>(engine_->TakeToEngine(), engine_->TakeFromEngine());
  // Its first reply shows the engine started; targets it makes and ends are told from then on.
  ping_ = pipe_->Send("Target.setDiscoverTargets", "{\"discover\":true}");
  pingWritten_ = 0;
  answered_ = false;
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
    if (spare_) {
      page.run = std::move(spare_);
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
  slot.run = std::make_unique<PageRun>(*pipe_, routes_);
  slot.run->Open();
  slot.run->Draw(slot.order.job.page, slot.order.scope, slot.order.job.width, slot.order.job.height);
}

void Scheduler::OpenSpare() {
  if (!prepare_ || spare_ || !engine_ || slots_.size() >= parallel_ || NowMs() - lastPageMs_ > kSpareKeepMs) return;
  spare_ = std::make_unique<PageRun>(*pipe_, routes_);
  spare_->Open();
}

void Scheduler::Fail(const std::string& id, const Stop& stop) {
  for (const std::unique_ptr<Slot>& slot : slots_)
    if (slot->order.id == id && slot->run) slot->run->Fail(stop);
  Settle();
}

bool Scheduler::Turn(int waitMs, int wake) {
  const int64_t now = NowMs();
  const int wait = int(std::max<int64_t>(0, std::min<int64_t>(waitMs, std::max<int64_t>(0, nextTick_ - now))));
  pollfd ready[3] = {{wake, POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLOUT, 0}};
  if (pipe_) {
    ready[1].fd = pipe_->ReadDescriptor();
    if (pipe_->Pending()) ready[2].fd = pipe_->WriteDescriptor();
  }
  poll(ready, 3, wait);
  try {
    if (pipe_ && ready[1].revents) {
      pipe_->Fill();
      while (pipe_) {
        std::optional<JsonValue> message = pipe_->Next();
        if (!message) break;
        Dispatch(*message);
      }
    }
    Tick();
    // However fast a page loaded, the engine is measured once before it may give a picture.
    bool measured = false;
    for (const std::unique_ptr<Slot>& slot : slots_) {
      if (!slot->run || !slot->run->WantsCapture()) continue;
      if (!measured) {
        measured = true;
        nextTick_ = 0;
        Tick();
        if (!slot->run || !slot->run->WantsCapture()) continue;
      }
      Guarded(*slot->run, [&](PageRun& run) { run.StartCapture(); });
    }
    if (pipe_) pipe_->Flush();
  } catch (const Stop& stop) {
    EngineFailed(stop);
  } catch (const std::exception& failure) {
    // No memory for a message, say: the pages in flight fail, a new engine draws the next ones.
    EngineFailed(Stop{kDriverEngine, std::string("the driver failed: ") + failure.what()});
  }
  Settle();
  return ready[0].fd >= 0 && (ready[0].revents & POLLIN);
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

// Each message goes to the one page whose command, session or target it names, or to nobody.
void Scheduler::Dispatch(const JsonValue& message) {
  if (const std::optional<int64_t> id = message["id"].Whole()) {
    if (PageRun* page = routes_.TakeCommand(int(*id))) {
      Guarded(*page, [&](PageRun& run) { run.OnReply(message); });
    } else if (*id == ping_) {
      ping_ = 0;
      answered_ = true;
      nextPing_ = NowMs() + kPingEveryMs;
    }
  } else if (PageRun* page = routes_.OwnerOfEvent(message)) {
    Guarded(*page, [&](PageRun& run) { run.OnEvent(message); });
  } else if (const std::optional<Routes::EngineCommand> shut = routes_.ShutOut(message)) {
    pipe_->Send(shut->method, shut->params, shut->session);
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
  if (slots_.empty() && spare_ && now - lastPageMs_ > kSpareKeepMs) spare_.reset();
  WatchEngine(now);
  if (!engine_ || ceiling == UINT64_MAX) return;
  const MemoryVerdict memory = WatchMemory(*engine_, ceiling);
  if (memory.what == MemoryVerdict::What::kRendererEnded) {
    victim_.at = now;
    victim_.why = memory.why;
  } else if (memory.what == MemoryVerdict::What::kEngineOver) {
    EngineFailed(Stop{kDriverMemory, memory.why});
  }
}

// Stopped, gone, or not answering: ended, and its pages fail with that reason.
void Scheduler::WatchEngine(int64_t now) {
  const EngineProcess::State state = engine_->Now();
  if (state != EngineProcess::State::kRunning) {
    healthy_ = false;
    EngineFailed(Stop{kDriverEngine, state == EngineProcess::State::kStopped ? "the engine was stopped"
                                                                            : "the engine ended"});
    return;
  }
  const int64_t limit = answered_ ? kAnswerMs : kStartMs;
  if (pipe_->Pending() && now - pipe_->LastProgressMs() > limit) {
    healthy_ = false;
    EngineFailed(Stop{kDriverEngine, "the engine stopped reading its pipe"});
    return;
  }
  if (ping_ && !pingWritten_ && pipe_->Written(ping_)) pingWritten_ = now;
  // The second counts from the engine's last sign of life: a large message it sends or reads holds
  // every answer back, and is no silence.
  const int64_t alive = std::max({pingWritten_, pipe_->LastReadMs(), pipe_->LastProgressMs()});
  if (ping_ && pingWritten_ && now - alive > limit) {
    healthy_ = false;
    EngineFailed(Stop{kDriverEngine, answered_ ? "the engine did not answer within a second"
                                               : "the engine did not start"});
    return;
  }
  healthy_ = true;
  if (!ping_ && now >= nextPing_) {
    ping_ = pipe_->Send("Browser.getVersion");
    pingWritten_ = 0;
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
    if (slot.run && slot.run->Done()) Finish(slot, slot.run->Outcome());
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
  // Every page's run before the pipe it speaks through.
  for (const std::unique_ptr<Slot>& slot : slots_) slot->run.reset();
  spare_.reset();
  routes_.Clear();
  pipe_.reset();
  engine_.reset();
  ping_ = 0;
  victim_.at = 0;
}

}  // namespace wine_extractor
