#include "plugin/dib_pair.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "plugin/readable_file.h"
#include "render/bitmap_object.h"
#include "render/image_extract.h"
#include "win/debug_trace.h"
#include "win/dib_geometry.h"
#include "win/dib_header.h"
#include "win/error.h"
#include "win/gdi_object.h"
#include "win/unique_local.h"

namespace zelnar {
namespace {

constexpr uint8_t kBackground = 0xFF;  // white, where a smaller capture leaves the picture empty

void WriteHeader(void* block, const DibGeometry& geometry) {
  BITMAPINFOHEADER header = BottomUpBgr24Header(geometry.width, geometry.height);
  // 0 would be legal for uncompressed rows, but host loaders copy exactly this many bytes of the
  // pixel block: with 0 they copied nothing and showed a black picture.
  header.biSizeImage = DWORD(geometry.imageSize);
  static_assert(kBitsPerPixel == 24, "the header describes 24-bit rows");
  static_assert(sizeof header == kHeaderBlockSize, "the host reads a 40-byte header");
  std::memcpy(block, &header, sizeof header);
}

// The capture is exactly what was asked for, or larger at 24 bits: its top-left part, byte for byte.
bool CopiesDirectly(const BitmapObject& bitmap, const DibGeometry& geometry) {
  return bitmap.Format() == PixelFormat::Bits24 && bitmap.Width() >= geometry.width &&
         bitmap.Height() >= geometry.height && bitmap.RowBytes() >= geometry.stride;
}

void CopyRows(BitmapObject& bitmap, const DibGeometry& geometry, uint8_t* pixels) {
  for (int32_t row = 0; row < geometry.height; ++row) {
    const size_t offset = size_t(geometry.height - 1 - row) * size_t(geometry.stride);
    std::memcpy(pixels + offset, bitmap.Row(row), size_t(geometry.stride));
  }
}

// Any other capture (smaller, another depth, device-dependent): GDI converts each of its rows to 24
// bits, and what the capture does not cover stays white. Only the capture's own rows are read.
void CopyConverted(BitmapObject& bitmap, const DibGeometry& geometry, uint8_t* pixels) {
  const int32_t width = bitmap.Width();
  const int32_t height = bitmap.Height();
  const auto source = ComputeDibGeometry(width, 1);
  if (!bitmap.Handle() || width <= 0 || height <= 0 || !source) throw Error(L"the capture holds no pixels");

  const size_t pictureRowBytes = size_t(geometry.width) * kBytesPerPixel;
  for (int32_t row = 0; row < geometry.height; ++row) {
    uint8_t* target = pixels + size_t(row) * size_t(geometry.stride);
    std::memset(target, kBackground, pictureRowBytes);
    std::memset(target + pictureRowBytes, 0, size_t(geometry.stride) - pictureRowBytes);
  }

  BITMAPINFO info{};
  info.bmiHeader = BottomUpBgr24Header(width, height);  // scan line n is row height - 1 - n from the top
  MemoryDc dc;
  if (!dc) throw Error(L"cannot create a device context");
  std::vector<uint8_t> line(size_t(source->stride));
  const size_t copied = size_t(std::min(width, geometry.width)) * kBytesPerPixel;
  for (int32_t row = 0; row < std::min(height, geometry.height); ++row) {
    if (GetDIBits(dc.Get(), bitmap.Handle(), UINT(height - 1 - row), 1, line.data(), &info, DIB_RGB_COLORS) != 1)
      throw Error(L"cannot convert the captured bitmap");
    std::memcpy(pixels + size_t(geometry.height - 1 - row) * size_t(geometry.stride), line.data(), copied);
  }
}

// Capture and row copy; raises on any failure. The blocks are locked and owned by the caller.
bool Assemble(const wchar_t* path, uint32_t flags, const DibGeometry& geometry, void* header, uint8_t* pixels) {
  BitmapObject bitmap;
  bitmap.SetWidth(geometry.width);
  bitmap.SetHeight(geometry.height);
  bitmap.SetBits24();
  if (!ExtractImage(path, bitmap, flags)) return false;
  WriteHeader(header, geometry);
  if (CopiesDirectly(bitmap, geometry))
    CopyRows(bitmap, geometry, pixels);
  else
    CopyConverted(bitmap, geometry, pixels);
  return true;  // the bitmap object's destructor deletes the captured bitmap
}

}  // namespace

int CreateDibPair(const wchar_t* path, const PictureRequest& request, HLOCAL* headerOut, HLOCAL* bitsOut) noexcept {
  if (!headerOut || !bitsOut) return kResultInternalError;
  *headerOut = nullptr;
  *bitsOut = nullptr;
  // The extractor "succeeds" for a path it cannot read and draws an error notice: the host would
  // take that notice for the page. So a missing file, a folder or a name the host's own conversion
  // spoiled with '?' fails here, before anything is allocated or the extractor is asked.
  if (!NamesReadableFile(path)) {
    TraceFailure(L"the path names no readable file", GetLastError());
    return kResultInternalError;
  }
  try {
    // Negative sizes and byte counts beyond 32 bits fail before anything too small is allocated.
    const auto geometry = ComputeDibGeometry(request.width, request.height);
    if (!geometry) {
      TraceFailure(L"the picture size has no 32-bit byte count");
      return kResultNoMemory;
    }

    // Both allocations are attempted, then both locks; a failure frees both blocks, locked or not.
    UniqueLocal header(LocalAlloc(LMEM_MOVEABLE, kHeaderBlockSize));
    const DWORD headerError = GetLastError();
    UniqueLocal pixels(LocalAlloc(LMEM_MOVEABLE, SIZE_T(geometry->imageSize)));
    if (!header || !pixels) {
      TraceFailure(L"LocalAlloc", header ? GetLastError() : headerError);
      return kResultNoMemory;
    }
    void* headerBytes = LocalLock(header.Get());
    const DWORD headerLockError = GetLastError();
    void* pixelBytes = LocalLock(pixels.Get());
    if (!headerBytes || !pixelBytes) {
      TraceFailure(L"LocalLock", headerBytes ? GetLastError() : headerLockError);
      return kResultLockFailed;
    }

    if (!Assemble(path, request.flags, *geometry, headerBytes, static_cast<uint8_t*>(pixelBytes)))
      return kResultInternalError;

    LocalUnlock(header.Get());
    LocalUnlock(pixels.Get());
    *headerOut = header.Release();
    *bitsOut = pixels.Release();
    return kResultSuccess;
  } catch (...) {
    TraceError(std::current_exception());
    return kResultInternalError;
  }
}

}  // namespace zelnar
