// The image-information record that GetPictureInfo and GetPictureInfoW fill, byte-packed as hosts read it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace zelnar {

#pragma pack(push, 1)
struct ImageInfoRecord {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t xDensity;
  uint16_t yDensity;
  int16_t bitsPerPixel;
#ifdef _WIN64
  // Most 64-bit hosts align the handle to 8 bytes inside the packed record; written as zeros.
  uint8_t padding[2];
#endif
  HLOCAL textInfo;  // handle of a text-information block: none
};
#pragma pack(pop)

#ifdef _WIN64
static_assert(offsetof(ImageInfoRecord, textInfo) == 24 && sizeof(ImageInfoRecord) == 32,
              "64-bit hosts read 32 bytes");
#else
static_assert(offsetof(ImageInfoRecord, textInfo) == 22 && sizeof(ImageInfoRecord) == 26,
              "32-bit hosts read 26 bytes");
#endif
static_assert(offsetof(ImageInfoRecord, bitsPerPixel) == 20, "the depth follows the two densities");

}  // namespace zelnar
