// GetPluginInfo and GetPluginInfoW: the identity strings, index 2 being the stored pattern list.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "plugin/exports.h"
#include "settings/settings_reader.h"
#include "win/debug_trace.h"
#include "win/text_conversion.h"
#include "plugin/module_identity.h"

namespace {

constexpr int kPatternListIndex = 2;
constexpr const char* kIdentity[] = {"00IN", ZELNAR_MODULE_NAME, zelnar::kDefaultPatternList,
                                     "HTML file"};
constexpr int kIdentityCount = sizeof kIdentity / sizeof kIdentity[0];

// Bounded copy that always terminates; returns the length now in the buffer. `length` counts the
// buffer's characters, terminator included, in either width.
template <typename Char>
int CopyBounded(Char* buffer, int length, std::basic_string_view<Char> text) {
  const size_t n = std::min(text.size(), static_cast<size_t>(length) - 1);
  std::memcpy(buffer, text.data(), n * sizeof(Char));
  buffer[n] = Char(0);
  return static_cast<int>(n);
}

// Both forms: 0 for an index out of range or no buffer, leaving the buffer untouched; out of memory
// leaves the empty string, as the result says. `convert` turns bytes of the ANSI code page into the
// form's own characters.
template <typename Char, typename Convert>
int ReportIdentity(int index, Char* buffer, int length, Convert convert) noexcept {
  if (index < 0 || index >= kIdentityCount) return 0;
  if (!buffer || length < 1) return 0;
  try {
    std::string list;
    if (index == kPatternListIndex) list = zelnar::ReadPatternList();
    const auto text = convert(index == kPatternListIndex ? std::string_view(list) : std::string_view(kIdentity[index]));
    return CopyBounded(buffer, length, std::basic_string_view<Char>(text));
  } catch (...) {
    buffer[0] = Char(0);
    zelnar::TraceError(std::current_exception());
    return 0;
  }
}

}  // namespace

extern "C" int __stdcall GetPluginInfo(int index, char* buffer, int length) noexcept {
  const zelnar::TraceScope scope(L"GetPluginInfo");
  return ReportIdentity(index, buffer, length, [](std::string_view text) { return text; });
}

extern "C" int __stdcall GetPluginInfoW(int index, wchar_t* buffer, int length) noexcept {
  const zelnar::TraceScope scope(L"GetPluginInfoW");
  // The strings are bytes of the ANSI code page, as the ANSI form reports them; `length` counts WCHARs.
  return ReportIdentity(index, buffer, length, [](std::string_view text) { return zelnar::WidenAnsi(text); });
}
