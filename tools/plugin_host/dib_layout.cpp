// Bitmap header checks for the host program.
#include "tools/plugin_host/dib_layout.h"

#include <cstdlib>

#include "win/bmp_file.h"
#include "win/dib_geometry.h"

namespace plugin_host {
namespace {

constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kBitFields = 3;

std::uint32_t U32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t U16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

}  // namespace

std::string ParseDibLayout(const unsigned char* header, std::size_t headerBlockSize, std::size_t pixelBlockSize,
                           DibLayout* layout) {
  if (!header || headerBlockSize < kInfoHeaderSize) return "header block smaller than 40 bytes";
  const std::uint32_t size = U32(header);
  if (size < kInfoHeaderSize || size > headerBlockSize) return "header size field " + std::to_string(size) + " is wrong";
  DibLayout l;
  l.width = std::int32_t(U32(header + 4));
  l.height = std::int32_t(U32(header + 8));
  const std::uint16_t planes = U16(header + 12);
  l.bitCount = U16(header + 14);
  const std::uint32_t compression = U32(header + 16);
  const std::uint32_t coloursUsed = U32(header + 32);
  if (l.width <= 0 || l.height == 0 || l.height == INT32_MIN)
    return "size " + std::to_string(l.width) + "x" + std::to_string(l.height) + " is no picture";
  if (planes != 1) return "plane count " + std::to_string(planes) + " is not 1";
  const std::uint16_t b = l.bitCount;
  if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32)
    return "bit count " + std::to_string(b) + " is not supported";
  if (!(compression == kRgb || (compression == kBitFields && (b == 16 || b == 32))))
    return "compression " + std::to_string(compression) + " is not supported";

  std::uint64_t masks = (compression == kBitFields && size == kInfoHeaderSize) ? 12 : 0;
  std::uint64_t colours = coloursUsed ? coloursUsed : (b <= 8 ? (1u << b) : 0);
  std::uint64_t headerBytes = size + masks + colours * 4;
  if (headerBytes > headerBlockSize) return "colour table runs past the header block";
  std::uint64_t stride = std::uint64_t(zelnar::DibStride(l.width, b));
  std::uint64_t image = stride * std::uint64_t(std::llabs(l.height));
  if (image > pixelBlockSize)
    return "pixel block holds " + std::to_string(pixelBlockSize) + " bytes, the picture needs " +
           std::to_string(image);
  if (zelnar::kBmpFileHeaderSize + headerBytes + image > UINT32_MAX) return "picture too large for a .bmp file";
  l.headerBytes = std::size_t(headerBytes);
  l.imageBytes = std::size_t(image);
  *layout = l;
  return {};
}

}  // namespace plugin_host
