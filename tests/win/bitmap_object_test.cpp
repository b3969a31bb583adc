// The bitmap object over GDI: layouts it recognises, rows counted from the top, and what it deletes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render/bitmap_object.h"
#include "tests/support/process_memory.h"
#include "win/error.h"

namespace {

using zelnar::BitmapObject;
using zelnar::PixelFormat;

struct Info {
  BITMAPINFOHEADER header;
  DWORD extra[256];
};

HBITMAP MakeSection(int width, int height, int bitCount, DWORD compression = BI_RGB, DWORD red = 0, DWORD green = 0,
                    DWORD blue = 0, uint8_t** bits = nullptr) {
  Info info{};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = width;
  info.header.biHeight = height;
  info.header.biPlanes = 1;
  info.header.biBitCount = WORD(bitCount);
  info.header.biCompression = compression;
  info.extra[0] = red;
  info.extra[1] = green;
  info.extra[2] = blue;
  if (bitCount <= 8)
    for (int i = 0; i < 256; ++i) info.extra[i] = RGB(i, 255 - i, i / 2);
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (bits) *bits = static_cast<uint8_t*>(pixels);
  return bitmap;
}

HBITMAP MakeScreenBitmap(int width, int height) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

TEST(BitmapObject, RecognisesEachLayout) {
  struct Case { int bits; DWORD compression; DWORD red, green, blue; PixelFormat format; int rowBytes; };
  const Case cases[] = {
      {1, BI_RGB, 0, 0, 0, PixelFormat::Bits1, 4},
      {4, BI_RGB, 0, 0, 0, PixelFormat::Bits4, 4},
      {8, BI_RGB, 0, 0, 0, PixelFormat::Bits8, 8},
      {16, BI_RGB, 0, 0, 0, PixelFormat::Bits15, 12},
      {16, BI_BITFIELDS, 0x7C00, 0x3E0, 0x1F, PixelFormat::Bits15, 12},
      {16, BI_BITFIELDS, 0xF800, 0x7E0, 0x1F, PixelFormat::Bits16, 12},
      {24, BI_RGB, 0, 0, 0, PixelFormat::Bits24, 16},
      {32, BI_RGB, 0, 0, 0, PixelFormat::Bits32, 20},
      {32, BI_BITFIELDS, 0xFF0000, 0xFF00, 0xFF, PixelFormat::Bits32, 20},
      {32, BI_BITFIELDS, 0xFF, 0xFF00, 0xFF0000, PixelFormat::Custom, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << "/" << c.compression << "/" << c.red);
    HBITMAP section = MakeSection(5, 3, c.bits, c.compression, c.red, c.green, c.blue);
    ASSERT_NE(section, nullptr);
    BitmapObject bitmap;
    bitmap.TakeOver(section);
    EXPECT_EQ(bitmap.Format(), c.format);
    EXPECT_EQ(bitmap.Width(), 5);
    EXPECT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(bitmap.RowBytes(), c.rowBytes);
  }
  BitmapObject screen;
  screen.TakeOver(MakeScreenBitmap(5, 3));
  EXPECT_EQ(screen.Format(), PixelFormat::DeviceDependent);
  EXPECT_EQ(screen.Height(), 3);
}

// Rows are distinct: stored row s holds the byte s + 1 throughout.
TEST(BitmapObject, CountsRowsFromTheTopWhicheverWayTheyAreStored) {
  for (int bitCount : {8, 24, 32}) {
    for (int height : {-4, 4, 1, -1}) {
      SCOPED_TRACE(testing::Message() << bitCount << " bits, height " << height);
      uint8_t* bits = nullptr;
      HBITMAP section = MakeSection(3, height, bitCount, BI_RGB, 0, 0, 0, &bits);
      ASSERT_NE(section, nullptr);
      const int rows = height < 0 ? -height : height;
      const int stride = ((3 * bitCount + 31) / 32) * 4;
      for (int s = 0; s < rows; ++s) std::memset(bits + s * stride, s + 1, stride);
      BitmapObject bitmap;
      bitmap.TakeOver(section);
      for (int row = 0; row < rows; ++row) {
        const int stored = height < 0 ? row : rows - 1 - row;
        EXPECT_EQ(bitmap.Row(row)[0], stored + 1) << row;
        EXPECT_EQ(bitmap.Row(row), bits + stored * stride);
      }
    }
  }
}

TEST(BitmapObject, RaisesForRowsOutsideTheImage) {
  BitmapObject empty;
  EXPECT_THROW(empty.Row(0), zelnar::Error);
  BitmapObject bitmap;
  bitmap.TakeOver(MakeSection(4, 2, 24));
  for (int index : {-1, 2, INT_MAX, INT_MIN}) EXPECT_THROW(bitmap.Row(index), zelnar::Error) << index;
  EXPECT_NO_THROW(bitmap.Row(1));
}

TEST(BitmapObject, MakesItsOwn24BitImageWhenFirstRead) {
  BitmapObject bitmap;
  bitmap.SetWidth(5);
  bitmap.SetHeight(3);
  bitmap.SetBits24();
  EXPECT_EQ(bitmap.Handle(), nullptr) << "no pixels before they are needed";
  EXPECT_EQ(bitmap.Format(), PixelFormat::Bits24);
  EXPECT_EQ(bitmap.RowBytes(), 16);
  ASSERT_NE(bitmap.Row(2), nullptr);
  EXPECT_NE(bitmap.Handle(), nullptr);

  BitmapObject negative;
  negative.SetWidth(-5);
  negative.SetHeight(3);
  negative.SetBits24();
  EXPECT_THROW(negative.Row(0), zelnar::Error);
}

TEST(BitmapObject, CopiesADeviceDependentBitmapAtItsOwnDepth) {
  HBITMAP screen = MakeScreenBitmap(4, 2);
  BITMAP plain{};
  ASSERT_EQ(GetObjectW(screen, sizeof plain, &plain), int(sizeof plain));
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, screen);
  SetPixel(dc, 0, 0, RGB(10, 20, 30));  // the top-left pixel
  SetPixel(dc, 0, 1, RGB(200, 100, 50));
  SelectObject(dc, previous);
  DeleteDC(dc);

  BitmapObject bitmap;
  bitmap.TakeOver(screen);
  const uint8_t* top = bitmap.Row(0);
  const uint8_t* bottom = bitmap.Row(1);
  if (plain.bmBitsPixel * plain.bmPlanes >= 24) {
    EXPECT_EQ(top[0], 30);
    EXPECT_EQ(top[2], 10);
    EXPECT_EQ(bottom[0], 50);
    EXPECT_EQ(bottom[2], 200);
  }
  EXPECT_EQ(bitmap.Format(), PixelFormat::DeviceDependent);
}

TEST(BitmapObject, DeletesEveryBitmapItHeld) {
  HBITMAP screen = MakeScreenBitmap(4, 2);
  HBITMAP section = MakeSection(4, 2, 24);
  {
    BitmapObject bitmap;
    bitmap.TakeOver(screen);
    bitmap.Row(0);  // makes the device-independent copy
    bitmap.TakeOver(section);
    EXPECT_EQ(GetObjectType(screen), 0u) << "the previous image is released on take-over";
  }
  EXPECT_EQ(GetObjectType(section), 0u);

  // What is not a bitmap is refused, and deleted all the same: it was handed over.
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  BitmapObject bitmap;
  EXPECT_THROW(bitmap.TakeOver(reinterpret_cast<HBITMAP>(brush)), zelnar::Error);
  EXPECT_EQ(GetObjectType(brush), 0u);
  EXPECT_THROW(bitmap.TakeOver(nullptr), zelnar::Error);
}

}  // namespace
