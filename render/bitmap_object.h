// The bitmap that carries a captured page from the extractor to the row copy: a GDI bitmap of ours,
// or one taken over from the extractor, with row access counted from the top.
#pragma once

#include <windows.h>

#include <cstdint>

#include "win/gdi_object.h"

namespace zelnar {

// Every layout an extractor's bitmap may have, not only the 24 bits this object makes: the colour depth
// asked of the extractor follows it, and a capture of another layout is still read correctly.
enum class PixelFormat { DeviceDependent, Bits1, Bits4, Bits8, Bits15, Bits16, Bits24, Bits32, Custom };

class BitmapObject {
 public:
  BitmapObject() noexcept = default;  // empty: 0 by 0, device-dependent
  BitmapObject(const BitmapObject&) = delete;
  BitmapObject& operator=(const BitmapObject&) = delete;

  // Each setter drops the held image; a 24-bit image of the new size stands in its place. Its pixels
  // are only made when a row is asked for, so a capture that replaces it costs no memory for it.
  void SetWidth(int32_t width);
  void SetHeight(int32_t height);
  void SetBits24() noexcept;  // the one format this object makes itself

  int32_t Width() const noexcept { return width_; }
  int32_t Height() const noexcept { return height_; }
  PixelFormat Format() const noexcept { return format_; }
  // Bytes per row of the held image in its own layout (0 for a device-dependent one).
  int32_t RowBytes() const noexcept { return rowBytes_; }

  // Owns `bitmap` from now on and takes its size and layout; the previous image is released.
  // Raises zelnar::Error (after deleting `bitmap`) when it is not a bitmap.
  void TakeOver(HBITMAP bitmap);

  // The bytes of row `index` (0 = top) in the held image's own layout. A device-dependent image is
  // first copied into a device-independent one of its own depth. Raises for an index out of range.
  const uint8_t* Row(int32_t index);

  // The GDI bitmap held, or null while none was made or taken over.
  HBITMAP Handle() const noexcept { return bitmap_.Get(); }

 private:
  struct Layout {
    uint8_t* bits = nullptr;
    int32_t stride = 0;
    bool topDown = false;
  };
  void Drop() noexcept;
  void UpdateOwnRowBytes() noexcept;
  void MakeOwnImage();
  void CopyDeviceDependent();

  int32_t width_ = 0;
  int32_t height_ = 0;
  PixelFormat format_ = PixelFormat::DeviceDependent;
  int32_t rowBytes_ = 0;
  GdiObject<HBITMAP> bitmap_;  // ours or taken over
  GdiObject<HBITMAP> copy_;    // the device-independent copy of a device-dependent bitmap
  Layout layout_;              // where the rows are, once known
};

// The layout of a device-independent header: bit count, compression and masks.
PixelFormat ClassifyDib(const BITMAPINFOHEADER& header, const DWORD masks[3]) noexcept;

}  // namespace zelnar
