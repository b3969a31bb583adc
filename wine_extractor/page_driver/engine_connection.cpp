#include "wine_extractor/page_driver/engine_connection.h"

#include <algorithm>
#include <optional>

#include "wine_extractor/page_driver/clock.h"
#include "wine_extractor/page_driver/json_object.h"
#include "wine_extractor/page_driver/stop.h"

namespace wine_extractor {
namespace {

// How often the engine is asked a cheap command.
constexpr int64_t kPingEveryMs = 500;
// An engine that neither answers nor shows any sign of life this long is asleep for good: it neither
// runs nor uses processor time nor sends a byte. A starved or busy engine always shows one of them.
constexpr int64_t kAsleepMs = 10000;

}  // namespace

EngineConnection::EngineConnection(const std::string& program, const std::vector<std::string>& arguments)
    : process_(program, arguments, EngineLogPath()),
      pipe_(process_.TakeToEngine(), process_.TakeFromEngine()),
      lifeMs_(NowMs()) {
  // Its first reply shows the engine started; targets it makes and ends are told from then on.
  ping_ = pipe_.Send("Target.setDiscoverTargets", JsonObject().Bool("discover", true));
  pingSince_ = lifeMs_;
}

// Each message goes to the one page whose command, session or target it names, or to nobody.
void EngineConnection::Read(const ToPage& toPage) {
  pipe_.Fill();
  while (std::optional<JsonValue> message = pipe_.Next()) {
    if (const std::optional<int64_t> id = (*message)["id"].Whole()) {
      if (PageRun* page = routes_.TakeCommand(int(*id))) {
        toPage(*page, *message);
      } else if (*id == ping_) {
        ping_ = 0;
        answered_ = true;
        nextPing_ = NowMs() + kPingEveryMs;
      }
    } else if (PageRun* page = routes_.OwnerOfEvent(*message)) {
      toPage(*page, *message);
    } else if (const std::optional<Routes::EngineCommand> shut = routes_.ShutOut(*message)) {
      pipe_.Send(shut->method, shut->params, shut->session);
    }
  }
}

void EngineConnection::Watch(int64_t now) {
  switch (process_.Now()) {
    case EngineProcess::State::kGone:
      throw Stop{kDriverEngine, "the engine ended"};
    case EngineProcess::State::kStopped:
      throw Stop{kDriverEngine, "the engine was stopped"};
    case EngineProcess::State::kRunning:
      break;
  }
  const EngineProcess::Activity doing = process_.Doing();
  if (doing.runnable || doing.cpuTicks != cpuTicks_) lifeMs_ = now;
  cpuTicks_ = doing.cpuTicks;
  lifeMs_ = std::max(lifeMs_, pipe_.LastReadMs());
  if (ping_ && now - std::max(pingSince_, lifeMs_) > kAsleepMs)
    throw Stop{kDriverEngine, answered_ ? "the engine stopped answering: it did nothing for " +
                                              std::to_string(kAsleepMs / 1000) + " s"
                                        : "the engine did not start"};
  if (!ping_ && now >= nextPing_) {
    ping_ = pipe_.Send("Browser.getVersion");
    pingSince_ = now;
  }
}

}  // namespace wine_extractor
