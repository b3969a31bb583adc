// GetPictureInfo and GetPictureInfoW: the fixed image-information record.
#include <windows.h>

#include <cstring>

#include "plugin/exports.h"
#include "plugin/host_result.h"
#include "plugin/image_info_record.h"
#include "win/debug_trace.h"

namespace {

// 640 by 480 at 24 bits, every other byte 0 (padding included).
void FillImageInfoRecord(void* record) noexcept {
  zelnar::ImageInfoRecord info{};
  info.width = 640;
  info.height = 480;
  info.bitsPerPixel = 24;
  std::memcpy(record, &info, sizeof info);
}

}  // namespace

extern "C" int __stdcall GetPictureInfo(const char*, LONG_PTR, unsigned int, void* record) noexcept {
  const zelnar::TraceScope scope(L"GetPictureInfo");
  // The record is fixed: it does not follow the configured size, and the file is not opened. It is
  // filled and yet 8 is returned: hosts rely on both, so the "error" is not to be fixed.
  if (record) FillImageInfoRecord(record);
  return zelnar::kResultInternalError;
}

extern "C" int __stdcall GetPictureInfoW(const wchar_t*, LONG_PTR, unsigned int, void* record) noexcept {
  const zelnar::TraceScope scope(L"GetPictureInfoW");
  // Filled, and yet 8, as the ANSI form answers.
  if (record) FillImageInfoRecord(record);
  return zelnar::kResultInternalError;
}
