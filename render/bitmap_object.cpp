#include "render/bitmap_object.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "win/dib_geometry.h"
#include "win/dib_header.h"
#include "win/error.h"

namespace zelnar {
namespace {

struct BitmapInfo256 {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

// Whether a DIB section stores its top row first. Its header need not keep the sign of the height it
// was made with, so GDI is asked for one top row in the section's own layout and that row is compared
// with the stored ones: a row index whose stored row differs from its mirror decides. When every row
// equals its mirror, the order makes no difference.
bool StoredTopDown(HBITMAP bitmap, const DIBSECTION& section, const uint8_t* bits, int32_t height, int32_t stride) {
  if (section.dsBmih.biHeight < 0) return true;
  // Only whole bytes of pixels are compared: GDI need not reproduce a row's trailing bytes.
  const size_t pixelBytes = size_t(int64_t(section.dsBmih.biWidth) * section.dsBmih.biBitCount / 8);
  if (pixelBytes == 0) return false;
  GdiFlush();
  auto stored = [&](int32_t index) { return bits + static_cast<ptrdiff_t>(index) * stride; };
  int32_t row = 0;
  while (row < height / 2 && std::memcmp(stored(row), stored(height - 1 - row), pixelBytes) == 0) ++row;
  if (row >= height / 2) return false;

  BitmapInfo256 info{};
  info.header = section.dsBmih;
  info.header.biHeight = height;
  info.header.biSizeImage = 0;
  MemoryDc dc;
  if (!dc) throw Error(L"cannot create a device context");
  if (info.header.biCompression == BI_BITFIELDS) {
    std::memcpy(info.colours, section.dsBitfields, sizeof section.dsBitfields);
  } else if (info.header.biBitCount <= 8) {
    const HGDIOBJ previous = SelectObject(dc.Get(), bitmap);
    const UINT colours = GetDIBColorTable(dc.Get(), 0, 256, info.colours);
    SelectObject(dc.Get(), previous);
    info.header.biClrUsed = colours;
  }
  std::vector<uint8_t> top(static_cast<size_t>(stride));
  // Scan lines count from the bottom: the row-th from the top is height - 1 - row.
  if (GetDIBits(dc.Get(), bitmap, UINT(height - 1 - row), 1, top.data(), reinterpret_cast<BITMAPINFO*>(&info),
                DIB_RGB_COLORS) != 1)
    throw Error(L"cannot read the captured bitmap");
  // The fourth byte of a 32-bit pixel is unused, and GDI may clear it in its copy.
  const uint8_t* mine = stored(row);
  for (size_t i = 0; i < pixelBytes; ++i)
    if (top[i] != mine[i] && !(info.header.biBitCount == 32 && i % 4 == 3)) return false;
  return true;
}

}  // namespace

PixelFormat ClassifyDib(const BITMAPINFOHEADER& header, const DWORD masks[3]) noexcept {
  const bool fields = header.biCompression == BI_BITFIELDS;
  if (header.biCompression != BI_RGB && !fields) return PixelFormat::Custom;
  auto masksAre = [&](DWORD red, DWORD green, DWORD blue) {
    return masks[0] == red && masks[1] == green && masks[2] == blue;
  };
  switch (header.biBitCount) {
    case 1: return fields ? PixelFormat::Custom : PixelFormat::Bits1;
    case 4: return fields ? PixelFormat::Custom : PixelFormat::Bits4;
    case 8: return fields ? PixelFormat::Custom : PixelFormat::Bits8;
    case 16:
      if (!fields || masksAre(0x7C00, 0x03E0, 0x001F)) return PixelFormat::Bits15;
      return masksAre(0xF800, 0x07E0, 0x001F) ? PixelFormat::Bits16 : PixelFormat::Custom;
    case 24: return fields ? PixelFormat::Custom : PixelFormat::Bits24;
    case 32:
      return !fields || masksAre(0xFF0000, 0xFF00, 0xFF) ? PixelFormat::Bits32 : PixelFormat::Custom;
    default: return PixelFormat::Custom;
  }
}

void BitmapObject::Drop() noexcept {
  copy_.Reset();
  bitmap_.Reset();
  layout_ = Layout{};
}

void BitmapObject::SetWidth(int32_t width) {
  Drop();
  width_ = width;
  UpdateOwnRowBytes();
}

void BitmapObject::SetHeight(int32_t height) {
  Drop();
  height_ = height;
}

void BitmapObject::SetBits24() noexcept {
  Drop();
  format_ = PixelFormat::Bits24;
  UpdateOwnRowBytes();
}

void BitmapObject::UpdateOwnRowBytes() noexcept {
  const auto geometry = ComputeDibGeometry(width_, 0);
  rowBytes_ = format_ == PixelFormat::Bits24 && geometry ? geometry->stride : 0;
}

void BitmapObject::MakeOwnImage() {
  const auto geometry = ComputeDibGeometry(width_, height_);
  if (!geometry || width_ == 0 || height_ == 0) throw Error(L"the bitmap has no pixels");
  BITMAPINFO info{};
  info.bmiHeader = BottomUpBgr24Header(width_, height_);
  void* bits = nullptr;
  GdiObject<HBITMAP> made(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!made || !bits) throw Error(L"cannot create a bitmap of " + std::to_wstring(width_) + L" by " +
                                  std::to_wstring(height_));
  bitmap_ = std::move(made);
  layout_ = Layout{static_cast<uint8_t*>(bits), geometry->stride, false};
}

void BitmapObject::TakeOver(HBITMAP handle) {
  GdiObject<HBITMAP> taken(handle);
  DIBSECTION section{};
  const int size = handle ? GetObjectW(handle, sizeof section, &section) : 0;
  if (size != int(sizeof(DIBSECTION)) && size != int(sizeof(BITMAP)))
    throw Error(L"the captured image is not a bitmap");

  int32_t width = section.dsBm.bmWidth;
  int32_t height = section.dsBm.bmHeight;
  PixelFormat format = PixelFormat::DeviceDependent;
  Layout layout;
  if (size == int(sizeof(DIBSECTION)) && section.dsBm.bmBits) {
    const BITMAPINFOHEADER& header = section.dsBmih;
    const int64_t stride = DibStride(header.biWidth, header.biBitCount);
    const int64_t rows = header.biHeight < 0 ? -int64_t(header.biHeight) : header.biHeight;
    if (header.biWidth < 0 || rows > INT32_MAX || stride > INT32_MAX)
      throw Error(L"the captured bitmap has an impossible size");
    width = header.biWidth;
    height = static_cast<int32_t>(rows);
    format = ClassifyDib(header, section.dsBitfields);
    auto* bits = static_cast<uint8_t*>(section.dsBm.bmBits);
    layout = Layout{bits, static_cast<int32_t>(stride), StoredTopDown(handle, section, bits, height, int32_t(stride))};
  }

  Drop();
  bitmap_ = std::move(taken);
  width_ = width;
  height_ = height;
  format_ = format;
  rowBytes_ = layout.stride;
  layout_ = layout;
}

void BitmapObject::CopyDeviceDependent() {
  BITMAP plain{};
  if (GetObjectW(bitmap_.Get(), sizeof plain, &plain) != int(sizeof plain))
    throw Error(L"cannot read the captured bitmap");
  const int bitCount = plain.bmPlanes * plain.bmBitsPixel;
  BitmapInfo256 info{};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = plain.bmWidth;
  info.header.biHeight = plain.bmHeight;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bitCount);
  info.header.biCompression = BI_RGB;
  MemoryDc dc;
  if (!dc) throw Error(L"cannot create a device context");
  // Asking without a buffer fills the colour table of a palette depth.
  if (bitCount <= 8 && !GetDIBits(dc.Get(), bitmap_.Get(), 0, plain.bmHeight, nullptr,
                                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS))
    throw Error(L"cannot read the captured bitmap's colours");
  info.header.biCompression = BI_RGB;
  info.header.biSizeImage = 0;
  void* bits = nullptr;
  GdiObject<HBITMAP> copy(CreateDIBSection(dc.Get(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                           &bits, nullptr, 0));
  if (!copy || !bits) throw Error(L"cannot copy the captured bitmap");
  if (GetDIBits(dc.Get(), bitmap_.Get(), 0, plain.bmHeight, bits, reinterpret_cast<BITMAPINFO*>(&info),
                DIB_RGB_COLORS) != plain.bmHeight)
    throw Error(L"cannot copy the captured bitmap");
  const int64_t stride = DibStride(plain.bmWidth, bitCount);
  if (stride > INT32_MAX) throw Error(L"the captured bitmap is too wide");
  copy_ = std::move(copy);
  layout_ = Layout{static_cast<uint8_t*>(bits), static_cast<int32_t>(stride), false};
}

const uint8_t* BitmapObject::Row(int32_t index) {
  if (index < 0 || index >= height_) throw Error(L"row " + std::to_wstring(index) + L" is outside the bitmap");
  if (!layout_.bits) {
    if (!bitmap_) MakeOwnImage();
    else if (format_ == PixelFormat::DeviceDependent) CopyDeviceDependent();
    if (!layout_.bits) throw Error(L"the bitmap's rows cannot be reached");
  }
  // Drawing into a DIB section may still be queued.
  GdiFlush();
  const int32_t stored = layout_.topDown ? index : height_ - 1 - index;
  return layout_.bits + static_cast<ptrdiff_t>(stored) * layout_.stride;
}

}  // namespace zelnar
