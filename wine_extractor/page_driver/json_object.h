// The JSON objects the driver writes to the engine: each member named and typed, every string
// escaped, so no command is put together from pieces of text. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace wine_extractor {

class JsonObject {
 public:
  // Each adds one member and returns the object, so a command reads as one expression.
  JsonObject& String(std::string_view name, const std::string& text);
  JsonObject& Number(std::string_view name, int64_t number);
  JsonObject& Bool(std::string_view name, bool flag);
  JsonObject& Object(std::string_view name, const JsonObject& object);
  // A member whose value is JSON text already (one of the driver's fixed parameters).
  JsonObject& Json(std::string_view name, std::string_view json);

  // The object as JSON text.
  std::string Text() const { return "{" + members_ + "}"; }

 private:
  JsonObject& Member(std::string_view name, std::string_view json);

  std::string members_;
};

}  // namespace wine_extractor
