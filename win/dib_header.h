// The header of an uncompressed 24-bit DIB stored bottom-up: what the host receives, what we create and
// what GDI is asked to convert into.
#pragma once

#include <windows.h>

namespace zelnar {

inline BITMAPINFOHEADER BottomUpBgr24Header(LONG width, LONG height) noexcept {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // positive: rows stored bottom-up
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  return header;
}

}  // namespace zelnar
