#include "wine_extractor/com_server/png_picture.h"

#include <wincodec.h>

#include <cstring>
#include <vector>

#include "wine_extractor/com_server/failure.h"
#include "win/com_ptr.h"
#include "win/dib_header.h"
#include "win/gdi_object.h"

namespace wine_extractor {
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
  BITMAPINFO info{};
  info.bmiHeader = zelnar::BottomUpBgr24Header(width, height);
  void* pixels = nullptr;
  zelnar::GdiObject<HBITMAP> bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
  if (!bitmap || !pixels) throw Failure(E_OUTOFMEMORY, L"no memory for the picture");
  const UINT stride = (UINT(width) * 3 + 3) & ~3u;
  auto* bits = static_cast<uint8_t*>(pixels);

  // The engine's pictures are RGB or RGBA: those are copied straight into the section, bottom-up,
  // which takes a fraction of a general conversion; anything else goes through WIC's converter.
  WICPixelFormatGUID format{};
  Check(frame->GetPixelFormat(&format), L"the engine's picture has no pixel format");
  const bool rgb = format == GUID_WICPixelFormat24bppRGB, rgba = format == GUID_WICPixelFormat32bppRGBA;
  ComPtr<IWICBitmapSource> source;
  UINT sourceBytes = 3;
  if (rgb || rgba) {
    Check(frame->QueryInterface(IID_IWICBitmapSource, source.ReceiveVoid()), L"the engine's picture has no pixels");
    sourceBytes = rgba ? 4 : 3;
  } else {
    Check(WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame.Get(),
                                 reinterpret_cast<IWICBitmapSource**>(source.ReceiveVoid())),
          L"the engine's picture cannot be converted to 24 bits");
  }
  const UINT sourceStride = UINT(width) * sourceBytes;
  std::vector<uint8_t> rows(size_t(sourceStride) * UINT(height));
  Check(source->CopyPixels(nullptr, sourceStride, UINT(rows.size()), rows.data()),
        L"the engine's picture cannot be decoded");
  // WIC hands rows top-down; the section keeps them bottom-up.
  for (int y = 0; y < height; ++y) {
    const uint8_t* from = rows.data() + size_t(y) * sourceStride;
    uint8_t* to = bits + size_t(height - 1 - y) * stride;
    if (!rgb && !rgba) {
      std::memcpy(to, from, sourceStride);
      continue;
    }
    for (int x = 0; x < width; ++x, from += sourceBytes, to += 3) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
    }
  }
  GdiFlush();
  return bitmap.Release();
}

}  // namespace wine_extractor
