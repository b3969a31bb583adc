#include "wine_extractor/page_driver/json_object.h"

#include "wine_extractor/protocol/json_writer.h"

namespace wine_extractor {

JsonObject& JsonObject::Member(std::string_view name, std::string_view json) {
  if (!members_.empty()) members_ += ',';
  members_ += JsonString(std::string(name));
  members_ += ':';
  members_ += json;
  return *this;
}

JsonObject& JsonObject::String(std::string_view name, const std::string& text) { return Member(name, JsonString(text)); }
JsonObject& JsonObject::Number(std::string_view name, int64_t number) { return Member(name, std::to_string(number)); }
JsonObject& JsonObject::Bool(std::string_view name, bool flag) { return Member(name, flag ? "true" : "false"); }
JsonObject& JsonObject::Object(std::string_view name, const JsonObject& object) { return Member(name, object.Text()); }
JsonObject& JsonObject::Json(std::string_view name, std::string_view json) { return Member(name, json); }

}  // namespace wine_extractor
