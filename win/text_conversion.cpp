// Text conversions through the system's code-page functions.
#include "win/text_conversion.h"

#include <windows.h>

#include <climits>


namespace zelnar {
namespace {

std::wstring Widen(UINT codePage, DWORD flags, std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > INT_MAX) throw TextConversionError(TextConversionError::Reason::TooLong);
  const int bytes = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(codePage, flags, text.data(), bytes, nullptr, 0);
  if (length <= 0) throw TextConversionError(TextConversionError::Reason::NotConvertible);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(codePage, flags, text.data(), bytes, &wide[0], length) != length)
    throw TextConversionError(TextConversionError::Reason::NotConvertible);
  return wide;
}

// None when the system cannot convert. UTF-8 takes no `usedDefault` (the call would fail with one).
std::optional<std::string> Narrow(UINT codePage, DWORD flags, std::wstring_view text, BOOL* usedDefault) {
  if (text.empty()) return std::string();
  if (text.size() > INT_MAX) return std::nullopt;
  const int units = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(codePage, flags, text.data(), units, nullptr, 0, nullptr, usedDefault);
  if (length <= 0) return std::nullopt;
  std::string narrow(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(codePage, flags, text.data(), units, &narrow[0], length, nullptr, usedDefault) != length)
    return std::nullopt;
  return narrow;
}

}  // namespace

std::wstring WidenUtf8(std::string_view text) { return Widen(CP_UTF8, MB_ERR_INVALID_CHARS, text); }

std::wstring WidenUtf8Replacing(std::string_view text) { return Widen(CP_UTF8, 0, text); }

std::wstring WidenAnsi(std::string_view text) { return Widen(CP_ACP, 0, text); }

std::string NarrowToUtf8(std::wstring_view text) {
  if (text.size() > INT_MAX) throw TextConversionError(TextConversionError::Reason::TooLong);
  std::optional<std::string> narrow = Narrow(CP_UTF8, 0, text, nullptr);
  if (!narrow) throw TextConversionError(TextConversionError::Reason::NotConvertible);
  return *std::move(narrow);
}

std::optional<std::string> NarrowToAnsi(std::wstring_view text) {
  BOOL usedDefault = FALSE;
  std::optional<std::string> narrow = Narrow(CP_ACP, WC_NO_BEST_FIT_CHARS, text, &usedDefault);
  if (usedDefault) return std::nullopt;
  return narrow;
}

}  // namespace zelnar
