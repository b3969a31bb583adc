#include "wine_extractor/page_driver/json_value.h"

#include <simdjson.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace wine_extractor {

// Copies simdjson's tree into ours; its depth is the parser's bound, so the recursion is too.
class JsonTree {
 public:
  static void Fill(simdjson::dom::element element, JsonValue& value) {
    using Type = simdjson::dom::element_type;
    switch (element.type()) {
      case Type::OBJECT:
        value.kind_ = JsonValue::Kind::Object;
        for (const simdjson::dom::key_value_pair member : simdjson::dom::object(element)) {
          // A name given twice keeps its last value.
          JsonValue item;
          Fill(member.value, item);
          value.members_[std::string(member.key)] = std::move(item);
        }
        return;
      case Type::ARRAY:
        value.kind_ = JsonValue::Kind::Array;
        for (const simdjson::dom::element item : simdjson::dom::array(element)) Fill(item, value.items_.emplace_back());
        return;
      case Type::STRING:
        value.kind_ = JsonValue::Kind::String;
        value.text_ = element.get_string().value_unsafe();
        return;
      case Type::INT64:
      case Type::UINT64:
      case Type::DOUBLE:
        // Every number as a double, whole ones included, as the callers take them.
        value.kind_ = JsonValue::Kind::Number;
        value.number_ = element.get_double().value_unsafe();
        return;
      case Type::BOOL:
        value.kind_ = JsonValue::Kind::Bool;
        value.flag_ = element.get_bool().value_unsafe();
        return;
      case Type::NULL_VALUE:
        return;
    }
  }
};

namespace {

// One attempt at `text`: the error simdjson found, or none with `value` filled.
simdjson::error_code Read(std::string_view text, bool padded, JsonValue& value) {
  simdjson::dom::parser parser(kMaxJsonBytes);
  // simdjson counts containers; the top one is at level 0 here.
  if (parser.allocate(text.size(), kMaxJsonDepth + 1) == simdjson::MEMALLOC) throw std::bad_alloc();
  simdjson::dom::element root;
  const simdjson::error_code error = parser.parse(text.data(), text.size(), !padded).get(root);
  if (error == simdjson::MEMALLOC) throw std::bad_alloc();
  if (error) return error;
  JsonTree::Fill(root, value);
  return simdjson::SUCCESS;
}

bool Hex4(std::string_view text, size_t at, unsigned& code) {
  if (at + 4 > text.size()) return false;
  code = 0;
  for (size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    code <<= 4;
    if (c >= '0' && c <= '9') code |= unsigned(c - '0');
    else if (c >= 'a' && c <= 'f') code |= unsigned(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') code |= unsigned(c - 'A' + 10);
    else return false;
  }
  return true;
}

// JSON's own number grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, nothing looser.
bool IsJsonNumber(std::string_view token) {
  size_t at = 0;
  auto digits = [&] {
    const size_t first = at;
    while (at < token.size() && token[at] >= '0' && token[at] <= '9') ++at;
    return at - first;
  };
  if (at < token.size() && token[at] == '-') ++at;
  if (at < token.size() && token[at] == '0') ++at;
  else if (digits() == 0) return false;
  if (at < token.size() && token[at] == '.') {
    ++at;
    if (digits() == 0) return false;
  }
  if (at < token.size() && (token[at] == 'e' || token[at] == 'E')) {
    ++at;
    if (at < token.size() && (token[at] == '+' || token[at] == '-')) ++at;
    if (digits() == 0) return false;
  }
  return at == token.size();
}

// What JSON's grammar allows and simdjson refuses, said so that it takes it: a lone half of a
// surrogate pair becomes U+FFFD (whatever follows a lone high half is read on its own), and a number
// beyond 64 bits or a double's range becomes the nearest double (the largest one for an overflow).
// None when nothing needed saying again, so the first refusal stands.
std::optional<std::string> Relaxed(std::string_view text) {
  constexpr char kReplacement[] = "\\ufffd";
  std::string out;
  out.reserve(text.size());
  bool changed = false;
  for (size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (c == '"') {
      out += c;
      for (++at; at < text.size();) {
        const char s = text[at];
        unsigned code = 0, low = 0;
        if (s == '"' || s != '\\' || at + 1 >= text.size()) {
          out += s;
          ++at;
          if (s == '"') break;
        } else if (text[at + 1] != 'u' || !Hex4(text, at + 2, code) || code < 0xD800 || code >= 0xE000) {
          out.append(text.substr(at, 2));
          at += 2;
        } else if (code < 0xDC00 && text.substr(at + 6, 2) == "\\u" && Hex4(text, at + 8, low) && low >= 0xDC00 &&
                   low < 0xE000) {
          out.append(text.substr(at, 12));
          at += 12;
        } else {
          out += kReplacement;
          at += 6;
          changed = true;
        }
      }
      continue;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      const size_t end = std::min(text.find_first_not_of("+-.0123456789eE", at), text.size());
      const std::string token(text.substr(at, end - at));
      at = end;
      if (!IsJsonNumber(token)) {
        out += token;
        continue;
      }
      const double number = std::strtod(token.c_str(), nullptr);
      char nearest[32];
      std::snprintf(nearest, sizeof nearest, "%.17g", std::isinf(number) ? std::copysign(DBL_MAX, number) : number);
      out += nearest;
      changed = changed || token != nearest;
      continue;
    }
    out += c;
    ++at;
  }
  if (!changed) return std::nullopt;
  return out;
}

}  // namespace

static_assert(kJsonPadding >= simdjson::SIMDJSON_PADDING);

std::optional<JsonValue> JsonValue::Parse(std::string_view text, bool padded) {
  if (text.size() > kMaxJsonBytes) return std::nullopt;
  JsonValue value;
  simdjson::error_code error = Read(text, padded, value);
  // The engine never writes these; the slower second reading is for whoever else might.
  if (error == simdjson::STRING_ERROR || error == simdjson::NUMBER_ERROR) {
    if (const std::optional<std::string> relaxed = Relaxed(text)) {
      value = JsonValue();
      error = Read(*relaxed, false, value);
    }
  }
  if (error) return std::nullopt;
  return value;
}

std::optional<int64_t> JsonValue::Whole() const noexcept {
  // Within 2^53 every whole number is exact; beyond it none is taken.
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
