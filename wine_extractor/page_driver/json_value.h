// The engine's DevTools messages and the extractor's jobs, read by simdjson into a small tree that
// answers ids, methods, strings and nested objects. Linux only: the page driver's part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wine_extractor/protocol/json_writer.h"

namespace wine_extractor {

// A value lies at most this many levels below the top (65 containers deep); deeper text is refused
// rather than read, whoever sent it.
inline constexpr size_t kMaxJsonDepth = 64;
// A text larger than this is refused unread (a picture of 16384 x 16384 pixels fits).
inline constexpr size_t kMaxJsonBytes = size_t(512) << 20;
// Bytes a caller may keep readable after a text so that it is read where it lies, not copied first.
inline constexpr size_t kJsonPadding = 64;

class JsonValue {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };

  // The value in `text`, or none when `text` is not exactly one JSON value within the bounds above.
  // With `padded`, kJsonPadding bytes after `text` may be read (their values do not matter). Raises
  // std::bad_alloc when there is no memory to read it.
  static std::optional<JsonValue> Parse(std::string_view text, bool padded = false);

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
  friend class JsonTree;
  Kind kind_ = Kind::Null;
  bool flag_ = false;
  double number_ = 0;
  std::string text_;
  std::vector<JsonValue> items_;
  std::map<std::string, JsonValue> members_;
};

}  // namespace wine_extractor
