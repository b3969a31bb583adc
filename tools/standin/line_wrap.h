// Greedy line breaking for the stand-in's page drawing: at spaces, and between East Asian
// characters (which are written without spaces), with a few punctuation marks kept in place.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace standin {

struct LineSpan {
  std::size_t start;
  std::size_t length;  // without the spaces at the break
};

// extents[i] is the width of text[0..i] as drawn (what GetTextExtentExPoint reports), so the
// function needs no device. A line is never empty: a word wider than maxWidth is cut where it
// overflows (never inside a surrogate pair).
std::vector<LineSpan> WrapText(std::u16string_view text, const std::vector<int>& extents, int maxWidth);

}  // namespace standin
