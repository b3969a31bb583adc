// A small JSON reader for the engine's DevTools messages: enough to find ids, methods, strings and
// nested objects. Portable.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wine_extractor/protocol/json_writer.h"

namespace wine_extractor {

class JsonValue {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };

  // The value in `text`, or none when `text` is not exactly one JSON value.
  static std::optional<JsonValue> Parse(std::string_view text);

  Kind GetKind() const noexcept { return kind_; }
  // The member `name` of an object; null for anything else or a missing member.
  const JsonValue& operator[](const std::string& name) const;
  // The string, or "" for anything else.
  const std::string& Text() const noexcept { return text_; }
  // The number, or -1 for anything else.
  double Number() const noexcept { return kind_ == Kind::Number ? number_ : -1; }
  // The number when it is whole and exact (|n| <= 2^53); none for anything else.
  std::optional<int64_t> Whole() const noexcept;
  // true only for the literal true.
  bool IsTrue() const noexcept { return kind_ == Kind::Bool && flag_; }

 private:
  friend class JsonReader;
  Kind kind_ = Kind::Null;
  bool flag_ = false;
  double number_ = 0;
  std::string text_;
  std::vector<JsonValue> items_;
  std::map<std::string, JsonValue> members_;
};

}  // namespace wine_extractor
