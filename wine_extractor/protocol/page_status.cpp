#include "wine_extractor/protocol/page_status.h"

#include "wine_extractor/protocol/text_fields.h"

namespace wine_extractor {
namespace {

constexpr char kRefusedTag[] = "refused";
constexpr char kMoreTag[] = "more";

// `text` cut to `bound` bytes, whole UTF-8 characters kept, "..." marking a cut; no control byte, so no
// tab or line end, stays.
std::string Field(const std::string& text, size_t bound, bool markCut) {
  std::string field = text;
  if (field.size() > bound) {
    size_t end = bound - (markCut ? 3 : 0);
    while (end > 0 && (static_cast<unsigned char>(field[end]) & 0xC0) == 0x80) --end;
    field.resize(end);
    if (markCut) field += "...";
  }
  for (char& c : field)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return field;
}

}  // namespace

std::string FormatStatus(const PageStatus& status) {
  std::string text = std::to_string(status.code);
  const std::string reason = Field(status.reason, kMaxReasonBytes, true);
  if (!reason.empty()) text += " " + reason;
  text += "\n";
  const std::vector<RefusedRequest>& listed = status.refused.listed;
  uint64_t more = status.refused.more;
  for (size_t i = 0; i < listed.size(); ++i) {
    if (i >= kMaxRefusedLines) {
      more += listed.size() - i;
      break;
    }
    const RefusedRequest& r = listed[i];
    // Kinds and rules are short words of the engine's and ours; the bounds only keep the file small.
    text += std::string(kRefusedTag) + "\t" + Field(r.kind, 40, false) + "\t" + Field(r.rule, 80, false) + "\t" +
            Field(r.url, kMaxRefusedUrlBytes, true) + "\n";
  }
  if (more) text += std::string(kMoreTag) + "\t" + std::to_string(more) + "\n";
  return text;
}

std::optional<PageStatus> ParseStatus(const std::string& text) {
  PageStatus status;
  size_t end = text.find('\n');
  const std::string first = text.substr(0, end);
  const size_t space = first.find(' ');
  const std::string code = first.substr(0, space);
  uint64_t value = 0;
  if (!ParseCount(code, value) || value > 255) return std::nullopt;
  status.code = int(value);
  if (space != std::string::npos) status.reason = first.substr(space + 1);
  while (end != std::string::npos) {
    const size_t start = end + 1;
    end = text.find('\n', start);
    const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::vector<std::string> fields = SplitAt(line, '\t');
    if (fields.size() == 4 && fields[0] == kRefusedTag && status.refused.listed.size() < kMaxRefusedLines)
      status.refused.listed.push_back({fields[1], fields[2], fields[3]});
    else if (fields.size() == 2 && fields[0] == kMoreTag)
      ParseCount(fields[1], status.refused.more);
  }
  return status;
}

}  // namespace wine_extractor
