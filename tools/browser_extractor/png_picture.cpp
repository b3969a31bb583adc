#include "tools/browser_extractor/png_picture.h"

#include <wincodec.h>

#include <cstring>
#include <vector>

#include "tools/browser_extractor/failure.h"
#include "win/com_ptr.h"
#include "win/dib_header.h"
#include "win/gdi_object.h"

namespace browser {
namespace {

void Check(HRESULT hr, const wchar_t* what) {
  if (FAILED(hr)) throw Failure(hr, what);
}

}  // namespace

HBITMAP DecodePicture(const std::wstring& path, int width, int height) {
  using zelnar::ComPtr;
  ComPtr<IWICImagingFactory> factory;
  Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         factory.ReceiveVoid()),
        L"WIC is not available");
  ComPtr<IWICBitmapDecoder> decoder;
  Check(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                           reinterpret_cast<IWICBitmapDecoder**>(decoder.ReceiveVoid())),
        L"the engine's picture is absent or no picture");
  ComPtr<IWICBitmapFrameDecode> frame;
  Check(decoder->GetFrame(0, reinterpret_cast<IWICBitmapFrameDecode**>(frame.ReceiveVoid())),
        L"the engine's picture has no frame");
  UINT frameWidth = 0, frameHeight = 0;
  Check(frame->GetSize(&frameWidth, &frameHeight), L"the engine's picture has no size");
  if (frameWidth != UINT(width) || frameHeight != UINT(height))
    throw Failure(E_UNEXPECTED, L"the engine's picture has another size than asked");
  ComPtr<IWICBitmapSource> converted;
  Check(WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame.Get(),
                               reinterpret_cast<IWICBitmapSource**>(converted.ReceiveVoid())),
        L"the engine's picture cannot be converted to 24 bits");

  BITMAPINFO info{};
  info.bmiHeader = zelnar::BottomUpBgr24Header(width, height);
  void* pixels = nullptr;
  zelnar::GdiObject<HBITMAP> bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
  if (!bitmap || !pixels) throw Failure(E_OUTOFMEMORY, L"no memory for the picture");
  const UINT stride = (UINT(width) * 3 + 3) & ~3u;
  const UINT size = stride * UINT(height);
  // WIC hands rows top-down; the section keeps them bottom-up: copy, then swap rows in place.
  Check(converted->CopyPixels(nullptr, stride, size, static_cast<BYTE*>(pixels)),
        L"the engine's picture cannot be decoded");
  auto* bits = static_cast<uint8_t*>(pixels);
  std::vector<uint8_t> spare(stride);
  for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    uint8_t* upper = bits + size_t(top) * stride;
    uint8_t* lower = bits + size_t(bottom) * stride;
    std::memcpy(spare.data(), upper, stride);
    std::memcpy(upper, lower, stride);
    std::memcpy(lower, spare.data(), stride);
  }
  GdiFlush();
  return bitmap.Release();
}

}  // namespace browser
