// Reading the small line format of form resources:
//   form <class> caption="..." client=W,H [design=DPI,TEXTHEIGHT]
//   font face="..." height=N charset=N
//   <kind> <name> parent=<name> [bounds=L,T,W,H] [tab=N] [tabstop=yes|no] [enabled=yes|no]
//          [caption="..."] [click=<event>] [buddy=<name> range=MIN,MAX position=N] [active=<page>]
// Blank lines and lines starting with '#' are skipped.
#include "forms/form_layout.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>

namespace zelnar {
namespace {

struct Line {
  int number;
  std::string keyword;
  std::string name;
  std::map<std::string, std::string> attributes;
};

[[noreturn]] void Fail(int line, const std::string& what) {
  throw LayoutError(L"the form layout's line " + std::to_wstring(line) + L" is wrong: " + WidenAscii(what),
                    L"フォーム定義の " + std::to_wstring(line) + L" 行目が不正です: " + WidenAscii(what));
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

Line Tokenize(std::string_view text, int number) {
  Line line{number, {}, {}, {}};
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    if (IsBlank(text[i])) {
      ++i;
      continue;
    }
    std::string word;
    while (i < text.size() && !IsBlank(text[i])) {
      if (text[i] == '"') {
        const size_t close = text.find('"', i + 1);
        if (close == std::string_view::npos) Fail(number, "unterminated quote");
        word.append(text.substr(i, close - i + 1));
        i = close + 1;
      } else {
        word.push_back(text[i++]);
      }
    }
    words.push_back(std::move(word));
  }
  if (words.size() < 2) Fail(number, "expected a keyword and a name");
  line.keyword = words[0];
  line.name = words[1];
  for (size_t w = 2; w < words.size(); ++w) {
    const size_t eq = words[w].find('=');
    if (eq == std::string::npos || eq == 0) Fail(number, "expected key=value: " + words[w]);
    std::string value = words[w].substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (!line.attributes.emplace(words[w].substr(0, eq), value).second) Fail(number, "repeated " + words[w]);
  }
  return line;
}

// Takes an attribute out of the line, so that what is left at the end is unknown.
std::optional<std::string> Take(Line& line, const char* key) {
  auto it = line.attributes.find(key);
  if (it == line.attributes.end()) return std::nullopt;
  std::string value = std::move(it->second);
  line.attributes.erase(it);
  return value;
}

std::vector<int> Numbers(const Line& line, const std::string& text, size_t count) {
  std::vector<int> numbers;
  size_t i = 0;
  while (true) {
    const size_t comma = std::min(text.find(',', i), text.size());
    std::string_view part(text.data() + i, comma - i);
    bool negative = !part.empty() && part[0] == '-';
    if (negative) part.remove_prefix(1);
    if (part.empty() || part.size() > 6) Fail(line.number, "bad number: " + text);
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') Fail(line.number, "bad number: " + text);
      value = value * 10 + (c - '0');
    }
    numbers.push_back(negative ? -value : value);
    if (comma == text.size()) break;
    i = comma + 1;
  }
  if (numbers.size() != count) Fail(line.number, "expected " + std::to_string(count) + " numbers: " + text);
  return numbers;
}

int Number(const Line& line, const std::string& text) { return Numbers(line, text, 1)[0]; }

bool YesNo(const Line& line, const std::string& text) {
  if (text == "yes") return true;
  if (text == "no") return false;
  Fail(line.number, "expected yes or no: " + text);
}

struct KindInfo {
  const char* keyword;
  ControlKind kind;
  bool tabStop;
};
constexpr KindInfo kKinds[] = {
    {"button", ControlKind::Button, true},   {"label", ControlKind::Label, false},
    {"edit", ControlKind::Edit, true},       {"updown", ControlKind::UpDown, false},
    {"check", ControlKind::CheckBox, true},  {"tabs", ControlKind::TabControl, true},
    {"page", ControlKind::Page, false},
};

void RejectLeftovers(const Line& line) {
  if (!line.attributes.empty()) Fail(line.number, "unknown attribute " + line.attributes.begin()->first);
}

void ReadForm(Line& line, FormLayout& layout) {
  layout.className = line.name;
  layout.caption = Take(line, "caption").value_or("");
  const auto client = Take(line, "client");
  if (!client) Fail(line.number, "form without client size");
  const std::vector<int> size = Numbers(line, *client, 2);
  layout.clientWidth = size[0];
  layout.clientHeight = size[1];
  if (auto design = Take(line, "design")) {
    const std::vector<int> d = Numbers(line, *design, 2);
    if (d[0] <= 0 || d[1] <= 0) Fail(line.number, "design values must be positive");
    layout.designPixelsPerInch = d[0];
    layout.designTextHeight = d[1];
  }
  RejectLeftovers(line);
}

void ReadFont(Line& line, FormLayout& layout) {
  if (line.name != "-") Fail(line.number, "font lines are named '-'");
  const auto face = Take(line, "face");
  const auto height = Take(line, "height");
  if (!face || !height) Fail(line.number, "font needs face and height");
  layout.fontFace = *face;
  layout.fontHeight = Number(line, *height);
  layout.fontCharset = Number(line, Take(line, "charset").value_or("1"));
  RejectLeftovers(line);
}

void ReadControl(Line& line, const KindInfo& info, FormLayout& layout) {
  ControlLayout control;
  control.kind = info.kind;
  control.name = line.name;
  control.tabStop = info.tabStop;
  if (control.name == layout.className || layout.Find(control.name)) Fail(line.number, "repeated name " + line.name);

  const auto parent = Take(line, "parent");
  if (!parent) Fail(line.number, "control without parent");
  control.parent = *parent;
  const ControlLayout* parentControl = layout.Find(control.parent);
  if (control.parent != layout.className && !parentControl) Fail(line.number, "unknown parent " + control.parent);
  const bool isPage = info.kind == ControlKind::Page;
  if (isPage != (parentControl && parentControl->kind == ControlKind::TabControl))
    Fail(line.number, "pages and only pages belong to a tab control");

  if (auto bounds = Take(line, "bounds")) {
    if (isPage) Fail(line.number, "a page takes the tab control's display area");
    const std::vector<int> b = Numbers(line, *bounds, 4);
    control.bounds = {b[0], b[1], b[2], b[3]};
  } else if (!isPage) {
    Fail(line.number, "control without bounds");
  }
  if (auto tab = Take(line, "tab")) control.tabOrder = Number(line, *tab);
  if (auto stop = Take(line, "tabstop")) control.tabStop = YesNo(line, *stop);
  if (auto enabled = Take(line, "enabled")) control.enabled = YesNo(line, *enabled);
  control.caption = Take(line, "caption").value_or("");
  control.click = Take(line, "click").value_or("");
  if (info.kind == ControlKind::UpDown) {
    const auto buddy = Take(line, "buddy");
    const auto range = Take(line, "range");
    if (!buddy || !range) Fail(line.number, "up-down needs buddy and range");
    const ControlLayout* edit = layout.Find(*buddy);
    if (!edit || edit->kind != ControlKind::Edit) Fail(line.number, "buddy must be an edit defined before");
    control.buddy = *buddy;
    const std::vector<int> r = Numbers(line, *range, 2);
    control.minimum = r[0];
    control.maximum = r[1];
    control.position = Number(line, Take(line, "position").value_or(std::to_string(r[0])));
  }
  if (info.kind == ControlKind::TabControl) control.activePage = Take(line, "active").value_or("");
  RejectLeftovers(line);
  layout.controls.push_back(std::move(control));
}

}  // namespace

const ControlLayout* FormLayout::Find(std::string_view name) const noexcept {
  for (const ControlLayout& control : controls)
    if (control.name == name) return &control;
  return nullptr;
}

std::vector<const ControlLayout*> FormLayout::Children(std::string_view parent) const {
  std::vector<const ControlLayout*> children;
  for (const ControlLayout& control : controls)
    if (control.parent == parent) children.push_back(&control);
  // Controls outside the tab order keep their resource order, after those in it.
  std::stable_sort(children.begin(), children.end(), [](const ControlLayout* a, const ControlLayout* b) {
    const unsigned ta = static_cast<unsigned>(a->tabOrder), tb = static_cast<unsigned>(b->tabOrder);
    return ta < tb;
  });
  return children;
}

FormLayout ParseFormLayout(std::string_view text) {
  FormLayout layout;
  std::vector<std::pair<std::string, int>> activePages;  // tab control, line
  bool haveForm = false;
  int number = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(start, end - start);
    start = end + 1;
    ++number;
    const size_t first = raw.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || raw[first] == '#') continue;

    Line line = Tokenize(raw, number);
    if (line.keyword == "form") {
      if (haveForm) Fail(number, "second form line");
      ReadForm(line, layout);
      haveForm = true;
      continue;
    }
    if (!haveForm) Fail(number, "the form line comes first");
    if (line.keyword == "font") {
      ReadFont(line, layout);
      continue;
    }
    const KindInfo* info = nullptr;
    for (const KindInfo& k : kKinds)
      if (line.keyword == k.keyword) info = &k;
    if (!info) Fail(number, "unknown keyword " + line.keyword);
    ReadControl(line, *info, layout);
    if (!layout.controls.back().activePage.empty()) activePages.emplace_back(layout.controls.back().name, number);
  }
  if (!haveForm) Fail(1, "no form line");
  // Pages follow their tab control, so the active one is checked at the end.
  for (const auto& [tabs, line] : activePages) {
    const ControlLayout* page = layout.Find(layout.Find(tabs)->activePage);
    if (!page || page->parent != tabs) Fail(line, "active page is not a page of " + tabs);
  }
  return layout;
}

int ScaleLength(int value, int numerator, int denominator) noexcept {
  if (denominator == 0) return -1;
  const int64_t product = static_cast<int64_t>(value) * numerator;
  const int64_t d = denominator;
  const bool negative = (product < 0) != (d < 0);
  const int64_t p = product < 0 ? -product : product;
  const int64_t q = d < 0 ? -d : d;
  const int64_t rounded = (2 * p + q) / (2 * q);
  const int64_t result = negative ? -rounded : rounded;
  if (result > INT32_MAX || result < INT32_MIN) return -1;
  return static_cast<int>(result);
}

void ScaleLayout(FormLayout& layout, int numerator, int denominator) {
  if (numerator == denominator) return;
  layout.clientWidth = ScaleLength(layout.clientWidth, numerator, denominator);
  layout.clientHeight = ScaleLength(layout.clientHeight, numerator, denominator);
  for (ControlLayout& control : layout.controls) {
    if (control.kind == ControlKind::Page) continue;
    Bounds& b = control.bounds;
    b = {ScaleLength(b.left, numerator, denominator), ScaleLength(b.top, numerator, denominator),
         ScaleLength(b.width, numerator, denominator), ScaleLength(b.height, numerator, denominator)};
  }
}

}  // namespace zelnar
