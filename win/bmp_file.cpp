#include "win/bmp_file.h"

namespace zelnar {
namespace {

void Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

std::array<unsigned char, kBmpFileHeaderSize> BmpFileHeader(std::uint32_t headerBytes,
                                                            std::uint32_t imageBytes) noexcept {
  std::array<unsigned char, kBmpFileHeaderSize> out{};
  out[0] = 'B';
  out[1] = 'M';
  Put32(&out[2], std::uint32_t(kBmpFileHeaderSize + headerBytes + imageBytes));
  Put32(&out[10], std::uint32_t(kBmpFileHeaderSize + headerBytes));  // bytes 6 to 9 are reserved: 0
  return out;
}

}  // namespace zelnar
