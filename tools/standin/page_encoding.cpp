// Charset sniffing for the stand-in's page drawing.
#include "tools/standin/page_encoding.h"

#include <algorithm>
#include <string>

namespace standin {
namespace {

// Declarations live in <head>; a browser looks no further than the first kilobytes either.
constexpr std::size_t kSniffLength = 8192;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::size_t FindNoCase(std::string_view text, std::string_view word, std::size_t from) {
  auto equal = [](char a, char b) { return LowerAscii(a) == LowerAscii(b); };
  if (from >= text.size()) return std::string_view::npos;
  auto it = std::search(text.begin() + from, text.end(), word.begin(), word.end(), equal);
  return it == text.end() ? std::string_view::npos : std::size_t(it - text.begin());
}

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == ':';
}

// The charset named inside one <meta ...> tag, lower-cased; empty when the tag names none.
std::string CharsetOfTag(std::string_view tag) {
  for (std::size_t at = FindNoCase(tag, "charset", 0); at != std::string_view::npos;
       at = FindNoCase(tag, "charset", at + 1)) {
    std::size_t p = at + 7;
    while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t' || tag[p] == '\r' || tag[p] == '\n')) ++p;
    if (p >= tag.size() || tag[p] != '=') continue;
    ++p;
    while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t' || tag[p] == '"' || tag[p] == '\'')) ++p;
    std::string name;
    while (p < tag.size() && IsNameChar(tag[p])) name.push_back(LowerAscii(tag[p++]));
    if (!name.empty()) return name;
  }
  return {};
}

PageEncoding EncodingOfName(const std::string& name) {
  static const char* const kUtf8[] = {"utf-8", "utf8", "unicode-1-1-utf-8"};
  static const char* const kShiftJis[] = {"shift_jis", "shift-jis", "sjis",        "x-sjis",
                                          "ms_kanji",  "csshiftjis", "windows-31j", "cp932"};
  for (const char* n : kUtf8)
    if (name == n) return PageEncoding::kUtf8;
  for (const char* n : kShiftJis)
    if (name == n) return PageEncoding::kShiftJis;
  return PageEncoding::kAnsi;
}

}  // namespace

DetectedEncoding DetectPageEncoding(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return {PageEncoding::kUtf8, 3};
  std::string_view head = bytes.substr(0, kSniffLength);
  for (std::size_t at = FindNoCase(head, "<meta", 0); at != std::string_view::npos;
       at = FindNoCase(head, "<meta", at + 5)) {
    std::size_t end = head.find('>', at);
    std::string name = CharsetOfTag(head.substr(at, end == std::string_view::npos ? head.npos : end - at));
    if (!name.empty()) return {EncodingOfName(name), 0};
  }
  return {PageEncoding::kAnsi, 0};
}

}  // namespace standin
