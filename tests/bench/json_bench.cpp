// The page driver's JSON reader on the two messages that matter: the engine's reply carrying a
// picture (41 MB of base64, the largest it sends in practice) and a typical small event, each read
// whole as the driver reads it, with the picture's text reached.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <random>
#include <string>

#include "wine_extractor/page_driver/base64.h"
#include "wine_extractor/page_driver/json_value.h"

namespace {

// What a full-page PNG of a large viewport comes to once base64-encoded.
constexpr size_t kPictureBytes = size_t(41) << 20;

const std::string& Screenshot() {
  static const std::string message = [] {
    std::string png(kPictureBytes / 4 * 3, '\0');
    std::mt19937 random(37);
    for (char& c : png) c = char(random());
    return R"({"id":1234,"result":{"screenshotData":")" + wine_extractor::Base64Encode(png) +
           R"("},"sessionId":"8C1D9F3A6E0B47D2A5C4E1F7B3D9A6C2"})";
  }();
  return message;
}

const std::string& Event() {
  static const std::string message =
      R"({"method":"Fetch.requestPaused","params":{"requestId":"interception-job-17.0","request":)"
      R"({"url":"file:///home/user/pages/styled/%E6%97%A5%E6%9C%AC.png","method":"GET","headers":)"
      R"j({"Referer":"file:///home/user/pages/styled.html","User-Agent":"Mozilla/5.0 (X11; Linux x86_64)",)j"
      R"("sec-ch-ua":"\"Not_A Brand\";v=\"8\""},"initialPriority":"Low","referrerPolicy":)"
      R"("strict-origin-when-cross-origin"},"frameId":"A1B2C3D4E5F60718293A4B5C6D7E8F90",)"
      R"("resourceType":"Image","networkId":"17.1"},"sessionId":"8C1D9F3A6E0B47D2A5C4E1F7B3D9A6C2"})";
  return message;
}

void ByJsonValue(benchmark::State& state, const std::string& message, const char* member) {
  for (auto _ : state) {
    const auto value = wine_extractor::JsonValue::Parse(message);
    const std::string& text = member[0] == 's' ? (*value)["result"][member].Text() : (*value)["params"][member].Text();
    benchmark::DoNotOptimize(text.size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(message.size()));
}

void ByNlohmann(benchmark::State& state, const std::string& message, const char* member) {
  for (auto _ : state) {
    const nlohmann::json value = nlohmann::json::parse(message);
    const std::string& text = member[0] == 's' ? value["result"][member].get_ref<const std::string&>()
                                               : value["params"][member].get_ref<const std::string&>();
    benchmark::DoNotOptimize(text.size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(message.size()));
}

void BySimdjson(benchmark::State& state, const std::string& message, const char* member) {
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element value = parser.parse(message.data(), message.size());
    const std::string_view text = member[0] == 's' ? value["result"][member].get_string().value()
                                                   : value["params"][member].get_string().value();
    const std::string copy(text);
    benchmark::DoNotOptimize(copy.size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(message.size()));
}

BENCHMARK_CAPTURE(ByJsonValue, screenshot, Screenshot(), "screenshotData")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ByNlohmann, screenshot, Screenshot(), "screenshotData")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BySimdjson, screenshot, Screenshot(), "screenshotData")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ByJsonValue, event, Event(), "requestId");
BENCHMARK_CAPTURE(ByNlohmann, event, Event(), "requestId");
BENCHMARK_CAPTURE(BySimdjson, event, Event(), "requestId");

}  // namespace

BENCHMARK_MAIN();
