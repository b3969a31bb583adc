// Line breaking over measured extents.
#include "tools/standin/line_wrap.h"

#include <algorithm>

namespace standin {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Scripts written without spaces between words: a line may break between any two of them.
bool IsWide(char16_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || IsHighSurrogate(c) || IsLowSurrogate(c);
}

// Closing marks, small kana and the like never begin a line; opening brackets never end one.
bool NoBreakBefore(char16_t c) {
  static const std::u16string_view kMarks =
      u"、。，．・：；？！ー―‐〜」』）］｝〉》】〕ぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ々ゝゞヽヾ,.;:!?)]}%";
  return kMarks.find(c) != std::u16string_view::npos;
}
bool NoBreakAfter(char16_t c) {
  static const std::u16string_view kMarks = u"「『（［｛〈《【〔([{";
  return kMarks.find(c) != std::u16string_view::npos;
}

bool CanBreakBefore(std::u16string_view text, std::size_t p) {
  char16_t before = text[p - 1];
  char16_t at = text[p];
  if (at == ' ') return false;
  if (before == ' ') return true;
  if (IsLowSurrogate(at)) return false;
  return (IsWide(before) || IsWide(at)) && !NoBreakBefore(at) && !NoBreakAfter(before);
}

LineSpan Trimmed(std::u16string_view text, std::size_t start, std::size_t end) {
  while (end > start && text[end - 1] == ' ') --end;
  return {start, end - start};
}

}  // namespace

std::vector<LineSpan> WrapText(std::u16string_view text, const std::vector<int>& extents, int maxWidth) {
  std::vector<LineSpan> lines;
  const std::size_t n = std::min(text.size(), extents.size());
  std::size_t start = 0;
  while (start < n) {
    while (start < n && text[start] == ' ') ++start;
    if (start >= n) break;
    const int base = start ? extents[start - 1] : 0;
    std::size_t lastBreak = 0;
    std::size_t i = start;
    for (; i < n; ++i) {
      if (i > start && CanBreakBefore(text, i)) lastBreak = i;
      // Spaces may hang past the margin: they vanish at the break.
      if (text[i] != ' ' && extents[i] - base > maxWidth) break;
    }
    if (i == n) {
      lines.push_back(Trimmed(text, start, n));
      break;
    }
    std::size_t end = lastBreak > start ? lastBreak : std::max(i, start + 1);
    if (end < n && IsLowSurrogate(text[end])) ++end;
    lines.push_back(Trimmed(text, start, end));
    start = end;
  }
  return lines;
}

}  // namespace standin
