// The stand-in for the shell's HTML thumbnail extractor: an in-process COM server of ours that draws
// the page plainly, or misbehaves on request, and records how it was called. Never part of the plug-in.
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tools/standin/page_painter.h"
#include "tools/standin/standin_control.h"
#include "win/dib_geometry.h"
#include "win/dib_header.h"
#include "win/gdi_object.h"

namespace standin {
namespace {

// {68BE9A22-FEE3-42C0-8E52-14E2ACA70114}
constexpr CLSID kClassId = {0x68BE9A22, 0xFEE3, 0x42C0, {0x8E, 0x52, 0x14, 0xE2, 0xAC, 0xA7, 0x01, 0x14}};

Mode mode = Mode::Normal;
Record record{};
LONG liveObjects = 0;
LONG serverLocks = 0;

// Extractors may run on several threads at once (the soak test): each event takes its own slot, and
// a count read twice could have grown in between and sent the write past the array.
void Note(Event event) {
  static_assert(sizeof record.eventCount == sizeof(LONG), "the count is incremented as a LONG");
  const LONG slot = InterlockedIncrement(reinterpret_cast<volatile LONG*>(&record.eventCount)) - 1;
  if (slot < kMaxEvents) record.events[slot] = event;
}

void NoteRelease(Event event) {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  if (CoGetApartmentType(&type, &qualifier) == CO_E_NOTINITIALIZED) ++record.releasesOutsideApartment;
  Note(event);
}

// A 24- or 32-bit DIB section; rows stored bottom-up unless topDown.
HBITMAP MakeDib(int width, int height, int bitCount, bool topDown, uint8_t** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = topDown ? -height : height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  *bits = static_cast<uint8_t*>(pixels);
  return bitmap;
}

int Stride(int width, int bitCount) { return int(zelnar::DibStride(width, bitCount)); }

// The pattern, whole rows including their trailing bytes, in 24 bits.
HBITMAP MakePattern24(int width, int height, bool topDown) {
  uint8_t* bits = nullptr;
  HBITMAP bitmap = MakeDib(width, height, 24, topDown, &bits);
  if (!bitmap) return nullptr;
  const int stride = Stride(width, 24);
  for (int row = 0; row < height; ++row) {
    uint8_t* line = bits + size_t(topDown ? row : height - 1 - row) * stride;
    for (int i = 0; i < stride; ++i) line[i] = PatternByte(row, i);
  }
  return bitmap;
}

HBITMAP MakePattern32(int width, int height) {
  uint8_t* bits = nullptr;
  HBITMAP bitmap = MakeDib(width, height, 32, false, &bits);
  if (!bitmap) return nullptr;
  for (int row = 0; row < height; ++row) {
    uint8_t* line = bits + size_t(height - 1 - row) * width * 4;
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) line[x * 4 + c] = PatternByte(row, x * 3 + c);
      line[x * 4 + 3] = kBits32Filler;
    }
  }
  return bitmap;
}

HBITMAP MakePatternDeviceDependent(int width, int height) {
  const HBITMAP bitmap = CreateCompatibleBitmap(zelnar::WindowDc(nullptr).Get(), width, height);
  if (!bitmap) return nullptr;
  const int stride = Stride(width, 24);
  std::vector<uint8_t> rows(size_t(stride) * height);
  for (int row = 0; row < height; ++row)
    for (int i = 0; i < stride; ++i) rows[size_t(height - 1 - row) * stride + i] = PatternByte(row, i);
  BITMAPINFO info{};
  info.bmiHeader = zelnar::BottomUpBgr24Header(width, height);
  SetDIBits(zelnar::MemoryDc().Get(), bitmap, 0, height, rows.data(), &info, DIB_RGB_COLORS);
  return bitmap;
}

HBITMAP MakePage(int width, int height, const wchar_t* path) {
  uint8_t* bits = nullptr;
  HBITMAP bitmap = MakeDib(width, height, 24, false, &bits);
  if (!bitmap) return nullptr;
  const zelnar::MemoryDc dc;
  const zelnar::SelectedObject selected(dc.Get(), bitmap);
  PaintPage(dc.Get(), width, height, path);
  return bitmap;
}

class Extractor;

class PersistPart : public IPersistFile {
 public:
  explicit PersistPart(Extractor* owner) : owner_(owner) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetClassID(CLSID* id) override {
    if (!id) return E_POINTER;
    *id = kClassId;
    return S_OK;
  }
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  STDMETHODIMP Load(LPCOLESTR path, DWORD accessMode) override;
  STDMETHODIMP Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

 private:
  Extractor* owner_;
};

class ExtractPart : public IExtractImage {
 public:
  explicit ExtractPart(Extractor* owner) : owner_(owner) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetLocation(LPWSTR location, DWORD capacity, DWORD* priority, const SIZE* size, DWORD depth,
                           DWORD* flags) override;
  STDMETHODIMP Extract(HBITMAP* bitmap) override;

 private:
  Extractor* owner_;
};

// One extractor object; its IUnknown, IPersistFile and IExtractImage are separate parts so that the
// record shows which reference is released when.
class Extractor final : public IUnknown {
 public:
  Extractor() : persist_(this), extract_(this) {
    InterlockedIncrement(&liveObjects);
    ++record.objectsCreated;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(this);
    } else if (iid == IID_IPersistFile) {
      Note(Event::QueryPersistFile);
      if (mode == Mode::NoPersistFile) return E_NOINTERFACE;
      *out = static_cast<IPersistFile*>(&persist_);
    } else if (iid == IID_IExtractImage) {
      Note(Event::QueryExtractImage);
      if (mode == Mode::NoExtractImage) return E_NOINTERFACE;
      *out = static_cast<IExtractImage*>(&extract_);
      if (mode == Mode::ExtractImageSFalse) {
        Grab();
        return S_FALSE;
      }
    } else {
      Note(Event::QueryOther);
      return E_NOINTERFACE;
    }
    Grab();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return Grab(); }
  STDMETHODIMP_(ULONG) Release() override {
    NoteRelease(Event::ReleaseUnknown);
    return Drop();
  }

  ULONG Grab() { return InterlockedIncrement(&references_); }
  ULONG Drop() {
    const ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

  std::wstring path_;
  SIZE size_{0, 0};

 private:
  ~Extractor() {
    Note(Event::Destroyed);
    InterlockedDecrement(&liveObjects);
  }

  LONG references_ = 1;
  PersistPart persist_;
  ExtractPart extract_;
};

STDMETHODIMP PersistPart::QueryInterface(REFIID iid, void** out) { return owner_->QueryInterface(iid, out); }
STDMETHODIMP_(ULONG) PersistPart::AddRef() { return owner_->Grab(); }
STDMETHODIMP_(ULONG) PersistPart::Release() {
  NoteRelease(Event::ReleasePersistFile);
  return owner_->Drop();
}

STDMETHODIMP PersistPart::Load(LPCOLESTR path, DWORD accessMode) {
  Note(Event::Load);
  if (!path) return E_POINTER;
  owner_->path_ = path;
  const size_t kept = std::min(owner_->path_.size(), size_t(kMaxPath - 1));
  std::memcpy(record.path, path, kept * sizeof(wchar_t));
  record.path[kept] = L'\0';
  record.loadMode = accessMode;
  return mode == Mode::LoadFails ? E_FAIL : S_OK;
}

STDMETHODIMP ExtractPart::QueryInterface(REFIID iid, void** out) { return owner_->QueryInterface(iid, out); }
STDMETHODIMP_(ULONG) ExtractPart::AddRef() { return owner_->Grab(); }
STDMETHODIMP_(ULONG) ExtractPart::Release() {
  NoteRelease(Event::ReleaseExtractImage);
  return owner_->Drop();
}

STDMETHODIMP ExtractPart::GetLocation(LPWSTR location, DWORD capacity, DWORD* priority, const SIZE* size,
                                      DWORD depth, DWORD* flags) {
  Note(Event::GetLocation);
  if (!location || !priority || !size || !flags) return E_POINTER;
  record.capacity = capacity;
  record.locationZeroed = std::all_of(location, location + capacity, [](wchar_t c) { return c == 0; });
  record.priority = *priority;
  record.size = *size;
  record.depth = depth;
  record.flags = *flags;
  owner_->size_ = *size;
  // What the shell's extractor would hand back; the caller reads none of it.
  lstrcpynW(location, L"stand-in", int(capacity));
  *priority = 0x7FFFFFFF;
  return S_OK;
}

STDMETHODIMP ExtractPart::Extract(HBITMAP* result) {
  Note(Event::Extract);
  if (!result) return E_POINTER;
  const int width = owner_->size_.cx;
  const int height = owner_->size_.cy;
  if (mode == Mode::ExtractFails) return E_FAIL;
  if (mode == Mode::NullBitmap) {
    *result = nullptr;
    return S_OK;
  }
  if (width <= 0 || height <= 0) return E_INVALIDARG;

  HBITMAP bitmap = nullptr;
  switch (mode) {
    case Mode::Normal: bitmap = MakePage(width, height, owner_->path_.c_str()); break;
    case Mode::Ready: {
      uint8_t* bits = nullptr;
      bitmap = MakeDib(width, height, 24, false, &bits);
      break;
    }
    case Mode::PatternTopDown: bitmap = MakePattern24(width, height, true); break;
    case Mode::Larger: bitmap = MakePattern24(width + kLargerBy, height + kLargerBy, false); break;
    case Mode::Smaller: bitmap = MakePattern24(std::max(1, width / 2), std::max(1, height / 2), false); break;
    case Mode::Bits32: bitmap = MakePattern32(width, height); break;
    case Mode::DeviceDependent: bitmap = MakePatternDeviceDependent(width, height); break;
    default: bitmap = MakePattern24(width, height, false); break;
  }
  if (!bitmap) return E_OUTOFMEMORY;
  record.lastBitmap = bitmap;
  *result = bitmap;
  return mode == Mode::ExtractSFalse ? S_FALSE : S_OK;
}

class Factory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static; its references only keep the server loaded.
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&serverLocks); }
  STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&serverLocks); }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (mode == Mode::CreateFails) return E_OUTOFMEMORY;
    Extractor* object = new (std::nothrow) Extractor();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = iid == IID_IUnknown ? (object->Grab(), *out = static_cast<IUnknown*>(object), S_OK)
                                     : object->QueryInterface(iid, out);
    object->Drop();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&serverLocks);
    else
      InterlockedDecrement(&serverLocks);
    return S_OK;
  }
};

Factory factory;

}  // namespace
}  // namespace standin

extern "C" {

HRESULT __stdcall DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (id != standin::kClassId) return CLASS_E_CLASSNOTAVAILABLE;
  return standin::factory.QueryInterface(iid, out);
}

HRESULT __stdcall DllCanUnloadNow() {
  return standin::liveObjects == 0 && standin::serverLocks == 0 ? S_OK : S_FALSE;
}

void __cdecl StandinSetMode(standin::Mode newMode) {
  standin::mode = newMode;
  standin::record = standin::Record{};
  standin::record.liveObjects = standin::liveObjects;
}

void __cdecl StandinGetRecord(standin::Record* out) {
  if (!out) return;
  standin::record.liveObjects = standin::liveObjects;
  *out = standin::record;
}

}
