// GetPluginInfo and GetPictureInfo: the identity strings and the fixed image-information record.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "plugin/exports.h"
#include "settings/settings_record.h"
#include "win/host_result.h"

namespace {

constexpr int kPatternListIndex = 2;
constexpr const char* kIdentity[] = {"00IN", "HTML to DIB v0.1.0", zelnar::kDefaultPatternList, "HTML file"};
constexpr int kIdentityCount = sizeof kIdentity / sizeof kIdentity[0];

#pragma pack(push, 1)
struct ImageInfoRecord {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t xDensity;
  uint16_t yDensity;
  int16_t bitsPerPixel;
  uint32_t textInfo;
};
#pragma pack(pop)
static_assert(sizeof(ImageInfoRecord) == 26, "the host reads a packed 26-byte record");

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
    return 0;
  }
}

extern "C" int __stdcall GetPictureInfo(const char*, LONG, unsigned int, void* record) noexcept {
  // The record is fixed: it does not follow the configured size, and the file is not opened.
  if (!record) return zelnar::kResultInternalError;
  const ImageInfoRecord info{0, 0, 640, 480, 0, 0, 24, 0};
  std::memcpy(record, &info, sizeof info);
  return zelnar::kResultInternalError;
}
