// GetPicture and GetPreview: one body, differing only in the flag word handed to the extractor. The
// ANSI forms widen the path once, here; everything below speaks UTF-16.
#include <windows.h>

#include <cstdint>
#include <string>

#include "plugin/exports.h"
#include "plugin/picture_request.h"
#include "render/dib_pair.h"
#include "settings/settings_record.h"
#include "win/debug_trace.h"
#include "win/text_conversion.h"

namespace zelnar {
namespace {

constexpr unsigned int kInputKindMask = 7;  // all three clear: the input is a file path

}  // namespace

bool IsFileInput(unsigned int kind) noexcept {
  if ((kind & kInputKindMask) == 0) return true;
  TraceFailure(L"the input is not a file; input kind", kind);
  return false;
}

int RequestPicture(FlagWord which, const wchar_t* path, HLOCAL* headerOut, HLOCAL* bitsOut,
                   ProgressCallback callback, LONG_PTR data) noexcept {
  if (callback && callback(0, 1, data)) return kResultStopped;

  PictureRequest request;
  try {
    // One hold of the settings lock for size and flags: a save in between cannot mix two settings.
    const SettingsIntegers settings = ReadSettingsIntegers();
    request = {settings.width, settings.height, which == FlagWord::Picture ? settings.flag1 : settings.flag2};
  } catch (...) {
    TraceError(std::current_exception());
    return kResultInternalError;
  }
  const int result = CreateDibPair(path, request, headerOut, bitsOut);

  if (callback && callback(1, 1, data)) {
    // The host takes the blocks only on success: a stop after the work must not leave them behind.
    if (result == kResultSuccess) {
      LocalFree(*headerOut);
      LocalFree(*bitsOut);
      *headerOut = nullptr;
      *bitsOut = nullptr;
    }
    return kResultStopped;
  }
  return result;
}

}  // namespace zelnar

namespace {

int RequestAnsiPicture(zelnar::FlagWord which, const char* input, unsigned int kind, HLOCAL* headerOut,
                       HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  if (!zelnar::IsFileInput(kind)) return zelnar::kResultNotAFile;
  std::wstring path;
  bool widened = false;
  try {
    if (input) {
      path = zelnar::WidenAnsi(input);
      widened = true;
    }
  } catch (...) {
    // A path that cannot be widened names no file we can read: 8, after both callbacks.
    zelnar::TraceError(std::current_exception());
  }
  return zelnar::RequestPicture(which, widened ? path.c_str() : nullptr, headerOut, bitsOut, callback, data);
}

}  // namespace

extern "C" int __stdcall GetPicture(const char* input, LONG_PTR, unsigned int kind, HLOCAL* headerOut,
                                    HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPicture");
  return RequestAnsiPicture(zelnar::FlagWord::Picture, input, kind, headerOut, bitsOut, callback, data);
}

extern "C" int __stdcall GetPreview(const char* input, LONG_PTR, unsigned int kind, HLOCAL* headerOut,
                                    HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPreview");
  return RequestAnsiPicture(zelnar::FlagWord::Preview, input, kind, headerOut, bitsOut, callback, data);
}
