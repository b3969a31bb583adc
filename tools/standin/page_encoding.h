// Decides how the bytes of an HTML file are to be read: a UTF-8 byte-order mark or a declared charset.
#pragma once

#include <cstddef>
#include <string_view>

namespace standin {

enum class PageEncoding { kUtf8, kShiftJis, kAnsi };

struct DetectedEncoding {
  PageEncoding encoding;
  std::size_t bomLength;  // bytes to skip before decoding
};

// A UTF-8 BOM wins; otherwise the first charset declared in a <meta> tag near the top of the file
// ("utf-8", "shift_jis" and their common aliases); anything else is read in the ANSI code page.
DetectedEncoding DetectPageEncoding(std::string_view bytes);

}  // namespace standin
