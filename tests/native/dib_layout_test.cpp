#include "tools/plugin_host/dib_layout.h"
#include "win/bmp_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace plugin_host {
namespace {

struct Header {
  std::uint32_t size = 40;
  std::int32_t width = 800;
  std::int32_t height = 600;
  std::uint16_t planes = 1;
  std::uint16_t bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t coloursUsed = 0;
};

std::vector<unsigned char> Bytes(const Header& h, std::size_t blockSize = 40) {
  std::vector<unsigned char> b(blockSize, 0);
  auto put = [&](std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  put(0, h.size, 4);
  put(4, std::uint32_t(h.width), 4);
  put(8, std::uint32_t(h.height), 4);
  put(12, h.planes, 2);
  put(14, h.bits, 2);
  put(16, h.compression, 4);
  put(32, h.coloursUsed, 4);
  return b;
}

TEST(DibLayout, SizesFollowTheHeaderAndMustFitTheBlocks) {
  struct Case { Header h; std::size_t headerBlock; std::size_t pixelBlock; std::size_t headerBytes;
                std::size_t imageBytes; const char* error; };
  auto with = [](auto change) { Header h; change(h); return h; };
  const Case cases[] = {
      {Header{}, 40, 1440000, 40, 1440000, ""},
      {with([](Header& h) { h.width = 1023; h.height = -2; }), 40, 6144, 40, 6144, ""},  // top-down rows
      {with([](Header& h) { h.bits = 8; }), 40 + 1024, 480000, 1064, 480000, ""},       // full colour table
      {with([](Header& h) { h.bits = 8; h.coloursUsed = 2; }), 48, 480000, 48, 480000, ""},
      {with([](Header& h) { h.bits = 32; h.compression = 3; }), 52, 1920000, 52, 1920000, ""},  // masks
      {Header{}, 40, 1439999, 0, 0, "pixel block holds 1439999 bytes, the picture needs 1440000"},
      {Header{}, 39, 1440000, 0, 0, "header block smaller than 40 bytes"},
      {with([](Header& h) { h.size = 124; }), 40, 1440000, 0, 0, "header size field 124 is wrong"},
      {with([](Header& h) { h.bits = 8; }), 40, 480000, 0, 0, "colour table runs past the header block"},
      {with([](Header& h) { h.width = 0; }), 40, 0, 0, 0, "size 0x600 is no picture"},
      {with([](Header& h) { h.planes = 2; }), 40, 1440000, 0, 0, "plane count 2 is not 1"},
      {with([](Header& h) { h.compression = 1; }), 40, 1440000, 0, 0, "compression 1 is not supported"},
      {with([](Header& h) { h.width = INT32_MAX; h.height = INT32_MAX; }), 40, SIZE_MAX, 0, 0,
       "picture too large for a .bmp file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    std::vector<unsigned char> bytes = Bytes(c.h, std::max<std::size_t>(c.headerBlock, 40));
    DibLayout layout;
    EXPECT_EQ(ParseDibLayout(bytes.data(), c.headerBlock, c.pixelBlock, &layout), c.error);
    if (*c.error) continue;
    EXPECT_EQ(layout.headerBytes, c.headerBytes);
    EXPECT_EQ(layout.imageBytes, c.imageBytes);
  }
}

TEST(DibLayout, FileHeaderPointsPastTheHeaderBlock) {
  const auto file = zelnar::BmpFileHeader(40, 1440000);
  const unsigned char expected[14] = {'B', 'M', 0x36, 0xF9, 0x15, 0, 0, 0, 0, 0, 54, 0, 0, 0};
  EXPECT_EQ(std::memcmp(file.data(), expected, 14), 0);
}

}  // namespace
}  // namespace plugin_host
