// Conversions between the UTF-16 of window text and file names, and the UTF-8 of resources and of
// Linux programs or the ANSI code page of the registry and the pattern scan. The one place text
// changes its encoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "win/error.h"

namespace zelnar {

// Raised when text cannot be widened. It carries no wording: the layer that shows it says it.
class TextConversionError : public Error {
 public:
  enum class Reason { TooLong, NotConvertible };
  explicit TextConversionError(Reason reason) : Error(std::wstring()), reason_(reason) {}
  Reason WhatFailed() const noexcept { return reason_; }

 private:
  Reason reason_;
};

// Raises TextConversionError for bytes that are not UTF-8.
std::wstring WidenUtf8(std::string_view text);
// Text that another program wrote, only to be shown: bytes that are not UTF-8 become U+FFFD. Raises
// TextConversionError only when the system cannot convert at all.
std::wstring WidenUtf8Replacing(std::string_view text);
// A lone surrogate becomes U+FFFD. Raises TextConversionError when the system cannot convert at all.
std::string NarrowToUtf8(std::wstring_view text);
// Bytes of the ANSI code page; a byte sequence it cannot map becomes U+FFFD or the code page's default.
// Raises TextConversionError when the system cannot convert at all.
std::wstring WidenAnsi(std::string_view text);
// Empty when a character has no exact form in the ANSI code page (it would become a wildcard '?').
std::optional<std::string> NarrowToAnsi(std::wstring_view text);

}  // namespace zelnar
