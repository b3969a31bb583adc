#include "render/image_extract.h"

#include <memory>
#include <new>

#include "win/com_error.h"
#include "win/com_ptr.h"
#include "win/debug_trace.h"

namespace zelnar {
namespace {

constexpr DWORD kLocationCapacity = 256;  // wide characters, whatever the path's length
constexpr DWORD kExtractorContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;

}  // namespace

DWORD RequestedColourDepth(PixelFormat format) noexcept {
  switch (format) {
    case PixelFormat::Bits1: return 1;
    case PixelFormat::Bits4: return 4;
    case PixelFormat::Bits8: return 8;
    case PixelFormat::Bits15:
    case PixelFormat::Bits16: return 16;
    case PixelFormat::Bits32: return 32;
    case PixelFormat::Bits24:
    case PixelFormat::DeviceDependent:
    case PixelFormat::Custom: break;
  }
  return 24;
}

bool ExtractImage(const wchar_t* path, BitmapObject& bitmap, uint32_t flags) {
  const DWORD depth = RequestedColourDepth(bitmap.Format());
  // Declared first, so that it is left last: every reference below is released inside the apartment.
  const ComApartment apartment(COINIT_APARTMENTTHREADED);

  std::unique_ptr<wchar_t[]> location(new wchar_t[kLocationCapacity]());

  CLSID classId;
  if (HRESULT hr = CLSIDFromProgID(kExtractorProgId, &classId); FAILED(hr))
    throw ComError(L"the HTML thumbnail extractor is not registered", hr);
  ComPtr<IUnknown> object;
  if (HRESULT hr = CoCreateInstance(classId, nullptr, kExtractorContext, IID_IUnknown, object.ReceiveVoid());
      FAILED(hr))
    throw ComError(L"the HTML thumbnail extractor cannot be created", hr);
  // Anything but S_OK is a refusal, S_FALSE included.
  ComPtr<IPersistFile> persistFile;
  if (HRESULT hr = object->QueryInterface(IID_IPersistFile, persistFile.ReceiveVoid()); hr != S_OK || !persistFile)
    throw InterfaceNotSupportedError(L"the extractor does not support IPersistFile", hr);
  ComPtr<IExtractImage> extractor;
  if (HRESULT hr = object->QueryInterface(kIID_IExtractImage, extractor.ReceiveVoid()); hr != S_OK || !extractor)
    throw InterfaceNotSupportedError(L"the extractor does not support IExtractImage", hr);

  DWORD priority = 0;
  const SIZE size{bitmap.Width(), bitmap.Height()};
  DWORD requestFlags = flags;
  // Neither result stops the capture: Extract decides.
  persistFile->Load(path, STGM_READ);
  extractor->GetLocation(location.get(), kLocationCapacity, &priority, &size, depth, &requestFlags);

  HBITMAP captured = nullptr;
  if (HRESULT hr = extractor->Extract(&captured); FAILED(hr)) {
    TraceFailure(L"IExtractImage::Extract", hr);
    return false;
  }
  // A success without a bitmap delivers nothing either.
  if (!captured) {
    TraceFailure(L"IExtractImage::Extract gave no bitmap");
    return false;
  }
  bitmap.TakeOver(captured);
  return true;
}

}  // namespace zelnar
