// The page driver's JSON reader on the two messages that matter: the engine's reply carrying a
// picture (41 MB of base64, the largest it sends in practice) and a typical small event, each read
// whole as the driver's pipe hands it over (with room after it), with the picture's text reached.
// Beside it, simdjson's own tree of the same message, reused from message to message: the floor of
// what the reader adds (its own tree, a parser per message).
#include <benchmark/benchmark.h>

#include <simdjson.h>

#include <random>
#include <string>

#include "wine_extractor/page_driver/base64.h"
#include "wine_extractor/page_driver/json_value.h"

namespace {

// What a full-page PNG of a large viewport comes to once base64-encoded.
constexpr size_t kPictureBytes = size_t(41) << 20;

// The text with room after it, as the pipe keeps it.
std::string Padded(const std::string& text) {
  std::string padded;
  padded.reserve(text.size() + wine_extractor::kJsonPadding);
  padded += text;
  return padded;
}

const std::string& Screenshot() {
  static const std::string message = [] {
    std::string png(kPictureBytes / 4 * 3, '\0');
    std::mt19937 random(37);
    for (char& c : png) c = char(random());
    return Padded(R"({"id":1234,"result":{"screenshotData":")" + wine_extractor::Base64Encode(png) +
           R"("},"sessionId":"8C1D9F3A6E0B47D2A5C4E1F7B3D9A6C2"})");
  }();
  return message;
}

const std::string& Event() {
  static const std::string message = Padded(
      R"({"method":"Fetch.requestPaused","params":{"requestId":"interception-job-17.0","request":)"
      R"({"url":"file:///home/user/pages/styled/%E6%97%A5%E6%9C%AC.png","method":"GET","headers":)"
      R"j({"Referer":"file:///home/user/pages/styled.html","User-Agent":"Mozilla/5.0 (X11; Linux x86_64)",)j"
      R"("sec-ch-ua":"\"Not_A Brand\";v=\"8\""},"initialPriority":"Low","referrerPolicy":)"
      R"("strict-origin-when-cross-origin"},"frameId":"A1B2C3D4E5F60718293A4B5C6D7E8F90",)"
      R"("resourceType":"Image","networkId":"17.1"},"sessionId":"8C1D9F3A6E0B47D2A5C4E1F7B3D9A6C2"})");
  return message;
}

void ByJsonValue(benchmark::State& state, const std::string& message, const char* member) {
  for (auto _ : state) {
    const auto value = wine_extractor::JsonValue::Parse(message, true);
    const std::string& text = member[0] == 's' ? (*value)["result"][member].Text() : (*value)["params"][member].Text();
    benchmark::DoNotOptimize(text.size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(message.size()));
}

void BySimdjson(benchmark::State& state, const std::string& message, const char* member) {
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element value = parser.parse(message.data(), message.size(), false);
    const std::string_view text = member[0] == 's' ? value["result"][member].get_string().value()
                                                   : value["params"][member].get_string().value();
    const std::string copy(text);
    benchmark::DoNotOptimize(copy.size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(message.size()));
}

BENCHMARK_CAPTURE(ByJsonValue, screenshot, Screenshot(), "screenshotData")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BySimdjson, screenshot, Screenshot(), "screenshotData")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ByJsonValue, event, Event(), "requestId");
BENCHMARK_CAPTURE(BySimdjson, event, Event(), "requestId");

}  // namespace

BENCHMARK_MAIN();
