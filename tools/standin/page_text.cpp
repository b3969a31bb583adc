// A forgiving HTML-to-text pass: enough to let a person recognise a page in a thumbnail.
#include "tools/standin/page_text.h"

#include <algorithm>
#include <cstdint>

namespace standin {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsSpace(char16_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAsciiAlpha(char16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char16_t c) { return c >= '0' && c <= '9'; }
char16_t LowerAscii(char16_t c) { return (c >= 'A' && c <= 'Z') ? char16_t(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != char16_t(b[i])) return false;
  return true;
}

std::size_t FindNoCase(std::u16string_view text, std::string_view word, std::size_t from) {
  for (std::size_t i = from; i + word.size() <= text.size(); ++i)
    if (EqualsNoCase(text.substr(i, word.size()), word)) return i;
  return std::u16string_view::npos;
}

void AppendCodePoint(std::u16string& out, std::uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x10000) {
    out.push_back(char16_t(cp));
    return;
  }
  cp -= 0x10000;
  out.push_back(char16_t(0xD800 + (cp >> 10)));
  out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
}

struct NamedEntity {
  const char* name;
  char16_t value;
};
const NamedEntity kEntities[] = {
    {"amp", u'&'},       {"lt", u'<'},        {"gt", u'>'},        {"quot", u'"'},     {"apos", u'\''},
    {"nbsp", 0x00A0},    {"copy", 0x00A9},    {"reg", 0x00AE},     {"trade", 0x2122},  {"yen", 0x00A5},
    {"middot", 0x00B7},  {"laquo", 0x00AB},   {"raquo", 0x00BB},   {"hellip", 0x2026}, {"mdash", 0x2014},
    {"ndash", 0x2013},   {"lsquo", 0x2018},   {"rsquo", 0x2019},   {"ldquo", 0x201C},  {"rdquo", 0x201D},
    {"times", 0x00D7},   {"deg", 0x00B0},     {"euro", 0x20AC},    {"bull", 0x2022},   {"sect", 0x00A7},
};

// Decodes the reference starting at text[at] == '&'. Returns the characters consumed (0 when it is
// no reference we know, so the '&' stands for itself) and appends the decoded text to out.
std::size_t DecodeEntity(std::u16string_view text, std::size_t at, std::u16string& out) {
  std::size_t p = at + 1;
  if (p < text.size() && text[p] == '#') {
    ++p;
    bool hex = p < text.size() && (text[p] == 'x' || text[p] == 'X');
    if (hex) ++p;
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (; p < text.size(); ++p, ++digits) {
      char16_t c = text[p];
      std::uint32_t d;
      if (IsAsciiDigit(c)) d = c - '0';
      else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else break;
      // Saturate: anything beyond the code space becomes the replacement character anyway.
      value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + d;
    }
    if (digits == 0) return 0;
    if (p < text.size() && text[p] == ';') ++p;
    AppendCodePoint(out, value);
    return p - at;
  }
  std::size_t nameEnd = p;
  while (nameEnd < text.size() && nameEnd - p < 10 && (IsAsciiAlpha(text[nameEnd]) || IsAsciiDigit(text[nameEnd])))
    ++nameEnd;
  if (nameEnd >= text.size() || text[nameEnd] != ';') return 0;
  std::u16string_view name = text.substr(p, nameEnd - p);
  for (const NamedEntity& e : kEntities) {
    std::string_view candidate(e.name);
    if (name.size() != candidate.size()) continue;
    if (!std::equal(name.begin(), name.end(), candidate.begin(), [](char16_t a, char b) { return a == char16_t(b); }))
      continue;
    out.push_back(e.value);
    return nameEnd + 1 - at;
  }
  return 0;
}

// Tags that end one block of text and start the next.
bool IsBlockTag(std::u16string_view name) {
  static const char* const kBlockTags[] = {
      "p",      "br",     "div",     "li",     "ul",      "ol",         "dl",     "dt",       "dd",
      "tr",     "table",  "caption", "pre",    "hr",      "blockquote", "section", "article", "header",
      "footer", "nav",    "aside",   "main",   "form",    "fieldset",   "legend", "address",  "figure",
      "figcaption", "details", "summary", "body", "html", "head", "center", "option", "h1", "h2", "h3", "h4",
      "h5", "h6"};
  for (const char* t : kBlockTags)
    if (EqualsNoCase(name, t)) return true;
  return false;
}

bool IsHeadingTag(std::u16string_view name) {
  return name.size() == 2 && LowerAscii(name[0]) == 'h' && name[1] >= '1' && name[1] <= '6';
}

// Collects text into blocks with whitespace collapsed.
class BlockBuilder {
 public:
  void Text(char16_t c) {
    if (IsSpace(c)) {
      pendingSpace_ = !current_.empty();
      return;
    }
    if (pendingSpace_) current_.push_back(u' ');
    pendingSpace_ = false;
    current_.push_back(c);
  }
  void Text(std::u16string_view s) {
    for (char16_t c : s) Text(c);
  }
  void Space() { pendingSpace_ = !current_.empty(); }
  void Break() {
    if (!current_.empty()) blocks_.push_back({current_, heading_});
    current_.clear();
    pendingSpace_ = false;
  }
  void SetHeading(bool heading) { heading_ = heading; }
  std::vector<PageBlock> Finish() {
    Break();
    return std::move(blocks_);
  }
  std::u16string FinishSingle() {
    return std::move(current_);
  }

 private:
  std::u16string current_;
  bool pendingSpace_ = false;
  bool heading_ = false;
  std::vector<PageBlock> blocks_;
};

// Decodes entities in a stretch of raw text (title contents) and collapses its whitespace.
std::u16string CollapsedText(std::u16string_view raw) {
  BlockBuilder builder;
  for (std::size_t i = 0; i < raw.size();) {
    if (raw[i] == '&') {
      std::u16string decoded;
      if (std::size_t used = DecodeEntity(raw, i, decoded)) {
        builder.Text(decoded);
        i += used;
        continue;
      }
    }
    builder.Text(raw[i++]);
  }
  return builder.FinishSingle();
}

// Index just behind the '>' that closes the tag whose name ends at `from`; quoted attribute values
// may hold '>'. The end of the text when the tag is never closed.
std::size_t SkipTagRest(std::u16string_view html, std::size_t from) {
  char16_t quote = 0;
  for (std::size_t i = from; i < html.size(); ++i) {
    char16_t c = html[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return html.size();
}

// Index behind the end tag `</name ...>` at or after `from`; the end of the text when it is missing.
std::size_t SkipRawContent(std::u16string_view html, std::size_t from, std::string_view closeTag,
                           std::size_t* contentEnd) {
  std::size_t close = FindNoCase(html, closeTag, from);
  if (close == std::u16string_view::npos) {
    *contentEnd = html.size();
    return html.size();
  }
  *contentEnd = close;
  return SkipTagRest(html, close + closeTag.size());
}

}  // namespace

PageText ExtractPageText(std::u16string_view html) {
  PageText page;
  bool haveTitle = false;
  BlockBuilder body;
  std::size_t i = 0;
  while (i < html.size()) {
    char16_t c = html[i];
    if (c == '&') {
      std::u16string decoded;
      if (std::size_t used = DecodeEntity(html, i, decoded)) {
        body.Text(decoded);
        i += used;
        continue;
      }
      body.Text(c);
      ++i;
      continue;
    }
    if (c != '<' || i + 1 >= html.size()) {
      body.Text(c);
      ++i;
      continue;
    }
    char16_t next = html[i + 1];
    if (html.substr(i, 4) == u"<!--") {
      std::size_t end = html.find(u"-->", i + 4);
      i = end == std::u16string_view::npos ? html.size() : end + 3;
      continue;
    }
    if (next == '!' || next == '?') {  // doctype, processing instruction
      i = SkipTagRest(html, i + 2);
      continue;
    }
    bool closing = next == '/';
    std::size_t nameStart = i + (closing ? 2 : 1);
    std::size_t nameEnd = nameStart;
    while (nameEnd < html.size() && (IsAsciiAlpha(html[nameEnd]) || IsAsciiDigit(html[nameEnd]))) ++nameEnd;
    if (nameEnd == nameStart || !IsAsciiAlpha(html[nameStart])) {  // a lone '<' is text
      body.Text(c);
      ++i;
      continue;
    }
    std::u16string_view name = html.substr(nameStart, nameEnd - nameStart);
    i = SkipTagRest(html, nameEnd);
    if (closing) {
      if (IsBlockTag(name)) body.Break();
      if (IsHeadingTag(name)) body.SetHeading(false);
      if (EqualsNoCase(name, "td") || EqualsNoCase(name, "th")) body.Space();
      continue;
    }
    std::size_t contentEnd = 0;
    if (EqualsNoCase(name, "script")) {
      i = SkipRawContent(html, i, "</script", &contentEnd);
    } else if (EqualsNoCase(name, "style")) {
      i = SkipRawContent(html, i, "</style", &contentEnd);
    } else if (EqualsNoCase(name, "title")) {
      std::size_t start = i;
      i = SkipRawContent(html, i, "</title", &contentEnd);
      if (!haveTitle) page.title = CollapsedText(html.substr(start, contentEnd - start));
      haveTitle = true;
    } else if (IsBlockTag(name)) {
      body.Break();
      if (IsHeadingTag(name)) body.SetHeading(true);
    } else if (EqualsNoCase(name, "td") || EqualsNoCase(name, "th")) {
      body.Space();
    }
  }
  page.blocks = body.Finish();
  return page;
}

}  // namespace standin
