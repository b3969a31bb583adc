// The image-information record that GetPictureInfo and GetPictureInfoW fill, byte-packed as hosts read it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace zelnar {

#pragma pack(push, 1)
struct PictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t xDensity;
  uint16_t yDensity;
  int16_t colorDepth;
#ifdef _WIN64
  // Most 64-bit hosts align the handle to 8 bytes inside the packed record; written as zeros.
  uint8_t padding[2];
#endif
  HLOCAL hInfo;
};
#pragma pack(pop)

#ifdef _WIN64
static_assert(offsetof(PictureInfo, hInfo) == 24 && sizeof(PictureInfo) == 32, "64-bit hosts read 32 bytes");
#else
static_assert(offsetof(PictureInfo, hInfo) == 22 && sizeof(PictureInfo) == 26, "32-bit hosts read 26 bytes");
#endif
static_assert(offsetof(PictureInfo, colorDepth) == 20, "the depth follows the two densities");

// Fills the record with the fixed answer: 640 by 480 at 24 bits, every other byte 0.
void FillFixedPictureInfo(void* record) noexcept;

}  // namespace zelnar
