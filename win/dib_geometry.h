// Sizes of the 24-bit bottom-up picture handed to the host. No Windows header: tested natively.
#pragma once

#include <cstdint>
#include <optional>

namespace zelnar {

inline constexpr int32_t kBitsPerPixel = 24;
inline constexpr int32_t kBytesPerPixel = kBitsPerPixel / 8;

// Bytes per row of an uncompressed DIB: the row's bits brought up to whole 32-bit words. In 64 bits,
// so that no width of a 32-bit header overflows it.
constexpr int64_t DibStride(int64_t width, int64_t bitCount) noexcept { return (width * bitCount + 31) / 32 * 4; }

struct DibGeometry {
  int32_t width;
  int32_t height;
  int32_t stride;     // bytes per row, a multiple of 4
  int32_t imageSize;  // stride * height
};

// The geometry for width x height, or nothing when a size is negative or a byte count leaves the
// signed 32-bit range (so that no block smaller than the rows is ever requested).
std::optional<DibGeometry> ComputeDibGeometry(int32_t width, int32_t height) noexcept;

}  // namespace zelnar
