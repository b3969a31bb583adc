// The page driver's JSON reader on anything the engine might send: it never reads out of bounds or
// overflows, and a string it accepts comes back the same through the writer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "wine_extractor/page_driver/json_value.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<wine_extractor::JsonValue> value = wine_extractor::JsonValue::Parse(text);
  if (!value) return 0;
  (void)(*value)["id"].Whole();
  if (value->GetKind() == wine_extractor::JsonValue::Kind::String) {
    const std::optional<wine_extractor::JsonValue> again = wine_extractor::JsonValue::Parse(wine_extractor::JsonString(value->Text()));
    if (!again || again->Text() != value->Text()) std::abort();
  }
  return 0;
}
