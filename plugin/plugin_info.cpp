// GetPluginInfo and GetPictureInfo: the identity strings and the fixed image-information record.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "plugin/exports.h"
#include "plugin/image_info_record.h"
#include "settings/settings_record.h"
#include "win/debug_trace.h"
#include "win/host_result.h"
#include "zelnar_version.h"

namespace {

constexpr int kPatternListIndex = 2;
constexpr const char* kIdentity[] = {"00IN", "HTML to DIB v" ZELNAR_VERSION_SHORT_TEXT, zelnar::kDefaultPatternList,
                                     "HTML file"};
constexpr int kIdentityCount = sizeof kIdentity / sizeof kIdentity[0];

// Bounded copy that always terminates; returns the length now in the buffer.
int CopyBounded(char* buffer, int length, const char* text) {
  const size_t room = static_cast<size_t>(length) - 1;
  size_t n = std::strlen(text);
  if (n > room) n = room;
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace

extern "C" int __stdcall GetPluginInfo(int index, char* buffer, int length) noexcept {
  if (index < 0 || index >= kIdentityCount) return 0;
  if (!buffer || length < 1) return 0;
  try {
    if (index == kPatternListIndex) {
      const std::string list = zelnar::ReadPatternList();
      return CopyBounded(buffer, length, list.c_str());
    }
    return CopyBounded(buffer, length, kIdentity[index]);
  } catch (...) {
    // Out of memory copying the list: the buffer holds the empty string, as the result says.
    buffer[0] = '\0';
    const zelnar::TraceScope scope(L"GetPluginInfo");
    zelnar::TraceError(std::current_exception());
    return 0;
  }
}

namespace zelnar {

void FillImageInfoRecord(void* record) noexcept {
  ImageInfoRecord info{};  // padding included: every byte is written
  info.width = 640;
  info.height = 480;
  info.bitsPerPixel = 24;
  std::memcpy(record, &info, sizeof info);
}

}  // namespace zelnar

extern "C" int __stdcall GetPictureInfo(const char*, LONG_PTR, unsigned int, void* record) noexcept {
  // The record is fixed: it does not follow the configured size, and the file is not opened. It is
  // filled and yet 8 is returned: hosts rely on both, so the "error" is not to be fixed.
  if (record) zelnar::FillImageInfoRecord(record);
  return zelnar::kResultInternalError;
}
