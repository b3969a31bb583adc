// The rule that turns a UTF-16 name into bytes of a code page for the pattern scan: each character
// either has an exact form in the code page or becomes one '?'. No Windows header: fuzzed natively.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelnar {

inline constexpr char kUnmappedCharacter = '?';

// Appends the exact form of one character (one UTF-16 unit, or a surrogate pair) to *out and returns
// true, or returns false, leaving *out as it was, when the code page has none.
using CharacterEncoder = bool (*)(const char16_t* units, size_t count, std::string* out, void* context);

// A high surrogate followed by a low one is one character; every other unit, a lone surrogate
// included, is one character of its own.
size_t CharacterUnits(std::u16string_view text, size_t position) noexcept;

// Each character of `text` through `encode`; a character without an exact form becomes one '?'.
std::string NarrowEachCharacter(std::u16string_view text, CharacterEncoder encode, void* context);

}  // namespace zelnar
