// GetPicture, GetPreview and their wide forms: one body, differing only in the flag word handed to
// the extractor. The ANSI forms widen the path once, here; everything below speaks UTF-16.
#include <windows.h>

#include <cstdint>
#include <string>

#include "plugin/dib_pair.h"
#include "plugin/exports.h"
#include "plugin/host_result.h"
#include "settings/settings_reader.h"
#include "win/debug_trace.h"
#include "win/text_conversion.h"

namespace {

constexpr unsigned int kInputKindMask = 7;  // all three clear: the input is a file path

enum class FlagWord { Picture, Preview };

// Only bits 0 to 2 of the input kind are examined. Anything but a file (an image in memory) is
// refused, and traced, before the input is looked at, so it is never read as a string.
bool IsFileInput(unsigned int kind) noexcept {
  if ((kind & kInputKindMask) == 0) return true;
  zelnar::TraceFailure(L"the input is not a file; input kind", kind);
  return false;
}

// The picture of the file at `path` (UTF-16, possibly null), with the callback asked before and after.
int RequestPicture(FlagWord which, const wchar_t* path, HLOCAL* headerOut, HLOCAL* bitsOut,
                   ProgressCallback callback, LONG_PTR data) noexcept {
  if (callback && callback(0, 1, data)) return zelnar::kResultStopped;

  zelnar::PictureRequest request;
  try {
    // One hold of the settings lock for size and flags: a save in between cannot mix two settings.
    const zelnar::SettingsIntegers settings = zelnar::ReadSettingsIntegers();
    request = {settings.width, settings.height, which == FlagWord::Picture ? settings.flag1 : settings.flag2};
  } catch (...) {
    zelnar::TraceError(std::current_exception());
    return zelnar::kResultInternalError;
  }
  const int result = zelnar::CreateDibPair(path, request, headerOut, bitsOut);

  if (callback && callback(1, 1, data)) {
    // The host takes the blocks only on success: a stop after the work must not leave them behind.
    if (result == zelnar::kResultSuccess) {
      LocalFree(*headerOut);
      LocalFree(*bitsOut);
      *headerOut = nullptr;
      *bitsOut = nullptr;
    }
    return zelnar::kResultStopped;
  }
  return result;
}

int RequestAnsiPicture(FlagWord which, const char* input, unsigned int kind, HLOCAL* headerOut, HLOCAL* bitsOut,
                       ProgressCallback callback, LONG_PTR data) noexcept {
  if (!IsFileInput(kind)) return zelnar::kResultNotAFile;
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
  return RequestPicture(which, widened ? path.c_str() : nullptr, headerOut, bitsOut, callback, data);
}

int RequestWidePicture(FlagWord which, const wchar_t* input, unsigned int kind, HLOCAL* headerOut, HLOCAL* bitsOut,
                       ProgressCallback callback, LONG_PTR data) noexcept {
  if (!IsFileInput(kind)) return zelnar::kResultNotAFile;
  return RequestPicture(which, input, headerOut, bitsOut, callback, data);
}

}  // namespace

extern "C" int __stdcall GetPicture(const char* input, LONG_PTR, unsigned int kind, HLOCAL* headerOut,
                                    HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPicture");
  return RequestAnsiPicture(FlagWord::Picture, input, kind, headerOut, bitsOut, callback, data);
}

extern "C" int __stdcall GetPreview(const char* input, LONG_PTR, unsigned int kind, HLOCAL* headerOut,
                                    HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPreview");
  return RequestAnsiPicture(FlagWord::Preview, input, kind, headerOut, bitsOut, callback, data);
}

extern "C" int __stdcall GetPictureW(const wchar_t* input, LONG_PTR, unsigned int kind, HLOCAL* headerOut,
                                     HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPictureW");
  return RequestWidePicture(FlagWord::Picture, input, kind, headerOut, bitsOut, callback, data);
}

extern "C" int __stdcall GetPreviewW(const wchar_t* input, LONG_PTR, unsigned int kind, HLOCAL* headerOut,
                                     HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPreviewW");
  return RequestWidePicture(FlagWord::Preview, input, kind, headerOut, bitsOut, callback, data);
}
