// GetPicture and GetPreview: one body, differing only in the flag word handed to the extractor.
#include <windows.h>

#include <cstdint>

#include "plugin/exports.h"
#include "render/dib_pair.h"
#include "settings/settings_record.h"
#include "win/debug_trace.h"

namespace {

constexpr unsigned int kInputKindMask = 7;  // all three clear: the input is a file path

int RequestPicture(zelnar::FlagWord which, const char* input, unsigned int kind, HLOCAL* headerOut,
                   HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept {
  if (kind & kInputKindMask) {
    zelnar::TraceFailure(L"the input is not a file; input kind", kind);
    return zelnar::kResultNotAFile;
  }
  if (callback && callback(0, 1, data)) return zelnar::kResultStopped;

  zelnar::PictureRequest request;
  try {
    // One hold of the settings lock for size and flags: a save in between cannot mix two settings.
    const zelnar::SettingsIntegers settings = zelnar::ReadSettingsIntegers();
    request = {settings.width, settings.height, which == zelnar::FlagWord::Picture ? settings.flag1 : settings.flag2};
  } catch (...) {
    zelnar::TraceError(std::current_exception());
    return zelnar::kResultInternalError;
  }
  const int result = zelnar::CreateDibPair(input, request, headerOut, bitsOut);

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

}  // namespace

extern "C" int __stdcall GetPicture(const char* input, LONG, unsigned int kind, HLOCAL* headerOut, HLOCAL* bitsOut,
                                    ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPicture");
  return RequestPicture(zelnar::FlagWord::Picture, input, kind, headerOut, bitsOut, callback, data);
}

extern "C" int __stdcall GetPreview(const char* input, LONG, unsigned int kind, HLOCAL* headerOut, HLOCAL* bitsOut,
                                    ProgressCallback callback, LONG_PTR data) noexcept {
  const zelnar::TraceScope scope(L"GetPreview");
  return RequestPicture(zelnar::FlagWord::Preview, input, kind, headerOut, bitsOut, callback, data);
}
