#include "win/dib_geometry.h"

#include <limits>

namespace zelnar {

std::optional<DibGeometry> ComputeDibGeometry(int32_t width, int32_t height) noexcept {
  if (width < 0 || height < 0) return std::nullopt;
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const int64_t stride = DibStride(width, kBitsPerPixel);
  if (stride > kMax) return std::nullopt;
  const int64_t imageSize = stride * height;
  if (imageSize > kMax) return std::nullopt;
  return DibGeometry{width, height, static_cast<int32_t>(stride), static_cast<int32_t>(imageSize)};
}

}  // namespace zelnar
