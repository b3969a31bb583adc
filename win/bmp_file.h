// The .bmp file form of a DIB: a 14-byte file header, the DIB's header block, then its rows. The file
// header is portable (tested natively); writing a file needs Windows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zelnar {

inline constexpr std::size_t kBmpFileHeaderSize = 14;

// The file header for a header block of headerBytes and rows of imageBytes. The caller keeps the
// whole file below 4 GiB: its size field has 32 bits.
std::array<unsigned char, kBmpFileHeaderSize> BmpFileHeader(std::uint32_t headerBytes,
                                                            std::uint32_t imageBytes) noexcept;

}  // namespace zelnar
