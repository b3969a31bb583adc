#include "wine_extractor/page_driver/json_value.h"

#include <cstdlib>

namespace wine_extractor {

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  bool ReadDocument(JsonValue& value) {
    if (!ReadValue(value, 0)) return false;
    SkipSpace();
    return at_ == text_.size();
  }

 private:
  static constexpr int kMaxDepth = 64;

  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += char(code);
    } else if (code < 0x800) {
      out += char(0xC0 | (code >> 6));
      out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += char(0xE0 | (code >> 12));
      out += char(0x80 | ((code >> 6) & 0x3F));
      out += char(0x80 | (code & 0x3F));
    } else {
      out += char(0xF0 | (code >> 18));
      out += char(0x80 | ((code >> 12) & 0x3F));
      out += char(0x80 | ((code >> 6) & 0x3F));
      out += char(0x80 | (code & 0x3F));
    }
  }

  bool Hex4(unsigned& code) {
    if (at_ + 4 > text_.size()) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      code <<= 4;
      if (c >= '0' && c <= '9') code |= unsigned(c - '0');
      else if (c >= 'a' && c <= 'f') code |= unsigned(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') code |= unsigned(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  bool ReadString(std::string& out) {
    if (!Take('"')) return false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code;
          if (!Hex4(code)) return false;
          // A surrogate pair is one character; a lone half, high or low, becomes U+FFFD, and
          // whatever follows a lone high one is read on its own.
          if (code >= 0xD800 && code < 0xDC00) {
            const size_t next = at_;
            unsigned low;
            if (Word("\\u") && Hex4(low) && low >= 0xDC00 && low < 0xE000) {
              code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else {
              at_ = next;
              code = 0xFFFD;
            }
          } else if (code >= 0xDC00 && code < 0xE000) {
            code = 0xFFFD;
          }
          AppendUtf8(out, code);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  bool ReadValue(JsonValue& value, int depth) {
    if (depth > kMaxDepth) return false;
    SkipSpace();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '"') {
      value.kind_ = JsonValue::Kind::String;
      return ReadString(value.text_);
    }
    if (c == '{') {
      ++at_;
      value.kind_ = JsonValue::Kind::Object;
      if (Take('}')) return true;
      do {
        std::string name;
        if (!ReadString(name) || !Take(':')) return false;
        JsonValue member;
        if (!ReadValue(member, depth + 1)) return false;
        value.members_[name] = std::move(member);
      } while (Take(','));
      return Take('}');
    }
    if (c == '[') {
      ++at_;
      value.kind_ = JsonValue::Kind::Array;
      if (Take(']')) return true;
      do {
        JsonValue item;
        if (!ReadValue(item, depth + 1)) return false;
        value.items_.push_back(std::move(item));
      } while (Take(','));
      return Take(']');
    }
    if (Word("true")) {
      value.kind_ = JsonValue::Kind::Bool;
      value.flag_ = true;
      return true;
    }
    if (Word("false")) {
      value.kind_ = JsonValue::Kind::Bool;
      return true;
    }
    if (Word("null")) return true;
    // JSON's own grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, nothing looser.
    const size_t start = at_;
    auto digits = [this] {
      const size_t first = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ - first;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (digits() == 0) {
      return false;
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) return false;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) return false;
    }
    const std::string number(text_.substr(start, at_ - start));
    char* end = nullptr;
    value.number_ = std::strtod(number.c_str(), &end);
    value.kind_ = JsonValue::Kind::Number;
    return end == number.c_str() + number.size();
  }

  std::string_view text_;
  size_t at_ = 0;
};

std::optional<JsonValue> JsonValue::Parse(std::string_view text) {
  JsonValue value;
  JsonReader reader(text);
  if (!reader.ReadDocument(value)) return std::nullopt;
  return value;
}

std::optional<int64_t> JsonValue::Whole() const noexcept {
  // Within 2^53 every whole number is exact; beyond (1e999 is infinity) none is taken.
  constexpr double kExact = 9007199254740992.0;
  if (kind_ != Kind::Number || !(number_ >= -kExact && number_ <= kExact) || number_ != double(int64_t(number_)))
    return std::nullopt;
  return int64_t(number_);
}

const JsonValue& JsonValue::operator[](const std::string& name) const {
  static const JsonValue kNull;
  if (kind_ != Kind::Object) return kNull;
  const auto found = members_.find(name);
  return found == members_.end() ? kNull : found->second;
}

}  // namespace wine_extractor
