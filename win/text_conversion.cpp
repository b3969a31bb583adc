// Text conversions through the system's code-page functions.
#include "win/text_conversion.h"

#include <windows.h>

#include <climits>

#include "win/error.h"

namespace zelnar {
namespace {

std::wstring Widen(UINT codePage, DWORD flags, std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > INT_MAX) throw Error(L"文字列が長すぎます");
  const int bytes = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(codePage, flags, text.data(), bytes, nullptr, 0);
  if (length <= 0) throw Error(L"文字列を変換できませんでした");
  std::wstring wide(static_cast<size_t>(length), L'\0');
  // A conversion that fails now would leave a string of zeros where the text belongs.
  if (MultiByteToWideChar(codePage, flags, text.data(), bytes, &wide[0], length) != length)
    throw Error(L"文字列を変換できませんでした");
  return wide;
}

}  // namespace

std::wstring WidenUtf8(std::string_view text) { return Widen(CP_UTF8, MB_ERR_INVALID_CHARS, text); }

std::wstring WidenAnsi(std::string_view text) { return Widen(CP_ACP, 0, text); }

std::optional<std::string> NarrowToAnsi(std::wstring_view text) {
  if (text.empty()) return std::string();
  if (text.size() > INT_MAX) return std::nullopt;
  const int units = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  const int length =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), units, nullptr, 0, nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return std::nullopt;
  std::string narrow(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), units, &narrow[0], length, nullptr,
                          &usedDefault) != length || usedDefault)
    return std::nullopt;
  return narrow;
}

}  // namespace zelnar
