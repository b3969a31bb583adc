// Checks the header block a plug-in hands over and says how many bytes make up the picture, so the
// host writes a .bmp file without reading beyond either block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plugin_host {

struct DibLayout {
  std::size_t headerBytes = 0;  // information header plus colour masks and colour table
  std::size_t imageBytes = 0;   // rows in the pixel block
  std::int32_t width = 0;
  std::int32_t height = 0;      // as stored: positive for bottom-up rows
  std::uint16_t bitCount = 0;
};

// header: the locked header block, headerBlockSize bytes long; pixelBlockSize: the pixel block's
// size. Returns an empty error on success, else what is wrong (and the layout is not to be used).
std::string ParseDibLayout(const unsigned char* header, std::size_t headerBlockSize, std::size_t pixelBlockSize,
                           DibLayout* layout);

}  // namespace plugin_host
