// The wide-character entry points: the same answers as the ANSI forms, for names the ANSI code page
// cannot spell. Paths go to the extractor as the host gave them; only the pattern scan, which is
// byte-based, sees the name in the ANSI code page.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "plugin/exports.h"
#include "plugin/image_info_record.h"
#include "plugin/picture_request.h"
#include "settings/settings_record.h"
#include "win/ansi_name.h"
#include "win/debug_trace.h"
#include "win/host_result.h"
#include "win/text_conversion.h"

namespace {

constexpr int kPatternListIndex = 2;
constexpr int kIdentityBuffer = 64;  // longer than every fixed identity string

// Bounded copy that always terminates; returns the length now in the buffer.
int CopyBounded(wchar_t* buffer, int length, const std::wstring& text) {
  const size_t n = std::min(text.size(), static_cast<size_t>(length) - 1);
  std::memcpy(buffer, text.data(), n * sizeof(wchar_t));
  buffer[n] = L'\0';
  return static_cast<int>(n);
}

int RequestWidePicture(zelnar::FlagWord which, const wchar_t* input, unsigned int kind, HLOCAL* headerOut,
                       HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  if (!zelnar::IsFileInput(kind)) return zelnar::kResultNotAFile;
  return zelnar::RequestPicture(which, input, headerOut, bitsOut, callback, data);
}

}  // namespace

extern "C" int __stdcall GetPluginInfoW(int index, wchar_t* buffer, int length) noexcept {
  if (!buffer || length < 1) return 0;
  const zelnar::TraceScope scope(L"GetPluginInfoW");
  try {
    std::string narrow;
    if (index == kPatternListIndex) {
      narrow = zelnar::ReadPatternList();
    } else {
      // The fixed strings are ASCII; the ANSI form decides which indexes exist.
      char fixed[kIdentityBuffer];
      if (GetPluginInfo(index, fixed, kIdentityBuffer) == 0) return 0;
      narrow = fixed;
    }
    // The stored list is bytes of the ANSI code page, as the ANSI form reports it.
    return CopyBounded(buffer, length, zelnar::WidenAnsi(narrow));
  } catch (...) {
    // As in the ANSI form: the buffer holds the empty string, as the result says.
    buffer[0] = L'\0';
    zelnar::TraceError(std::current_exception());
    return 0;
  }
}

extern "C" int __stdcall IsSupportedW(const wchar_t* name, DWORD_PTR head) noexcept {
  if (!name) return 0;
  const zelnar::TraceScope scope(L"IsSupportedW");
  try {
    // A character outside the code page becomes one '?', which only a wildcard matches: a name is
    // claimed for the extension it has, never for a look-alike of one.
    const std::string narrow = zelnar::NarrowNameToAnsi(name);
    return IsSupported(narrow.c_str(), head);
  } catch (...) {
    zelnar::TraceError(std::current_exception());
    return 0;
  }
}

extern "C" int __stdcall GetPictureInfoW(const wchar_t*, LONG_PTR, unsigned int, void* record) noexcept {
  // Filled, and yet 8, as the ANSI form answers.
  if (record) zelnar::FillImageInfoRecord(record);
  return zelnar::kResultInternalError;
}

extern "C" int __stdcall GetPictureW(const wchar_t* input, LONG_PTR, unsigned int kind, HLOCAL* headerOut,
                                     HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPictureW");
  return RequestWidePicture(zelnar::FlagWord::Picture, input, kind, headerOut, bitsOut, callback, data);
}

extern "C" int __stdcall GetPreviewW(const wchar_t* input, LONG_PTR, unsigned int kind, HLOCAL* headerOut,
                                     HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPreviewW");
  return RequestWidePicture(zelnar::FlagWord::Preview, input, kind, headerOut, bitsOut, callback, data);
}
