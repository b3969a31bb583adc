// The browser-backed HTML extractor: an in-process COM server of ours for Wine that renders the page
// with a real browser engine. It stands where the shell's extractor is registered; never part of the
// plug-in.
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <exception>
#include <new>
#include <string>

#include "extractor_class.h"
#include "wine_extractor/com_server/read_settings.h"
#include "wine_extractor/com_server/failure.h"
#include "wine_extractor/com_server/page_render.h"
#include "win/ansi_name.h"
#include "win/text_conversion.h"

namespace wine_extractor {
namespace {

// What GetLocation reports back: we keep no cache of our own (pages change), draw no stamp and no
// border; the picture is the page, nothing else.
constexpr DWORD kAnswerFlags = IEIFLAG_CACHE | IEIFLAG_NOSTAMP | IEIFLAG_NOBORDER;

LONG liveObjects = 0;
LONG serverLocks = 0;

// One line for the debugger. The A form: Wine shows only its lines, and Windows debuggers see both.
// A character the code page lacks shows as '?'.
void TraceLine(const std::wstring& line) { OutputDebugStringA(zelnar::NarrowNameToAnsi(line).c_str()); }

void TraceCause(const char* method, HRESULT result, const char* cause) noexcept;

void Trace(const wchar_t* method, const Failure& failure) noexcept {
  wchar_t code[16];
  wsprintfW(code, L"0x%08lX", static_cast<unsigned long>(failure.Result()));
  try {
    TraceLine(std::wstring(L"zelnar browser extractor: ") + method + L": " + failure.Text() + L" (" + code + L")\n");
  } catch (...) {
    TraceCause("a method", failure.Result(), "a failure, and no memory to say which");
  }
}

// A cause that came without a Failure, in a fixed buffer: it is said from a handler, where nothing
// may throw.
void TraceCause(const char* method, HRESULT result, const char* cause) noexcept {
  char line[512];
  wsprintfA(line, "zelnar browser extractor: %s: %.400s (0x%08lX)\n", method, cause, static_cast<unsigned long>(result));
  OutputDebugStringA(line);
}

// A line per request of the page that the request rules refused, picture or not: what a user needs
// to tell a refused stylesheet from a missing one.
void TraceRefused(const wchar_t* method, const RefusedRequests& refused) noexcept {
  try {
    const std::wstring start = std::wstring(L"zelnar browser extractor: ") + method + L": ";
    for (const RefusedRequest& r : refused.listed)
      TraceLine(start + L"refused " + zelnar::WidenUtf8Replacing(r.kind) + L" " + zelnar::WidenUtf8Replacing(r.url) +
                L": " + zelnar::WidenUtf8Replacing(r.rule) + L"\n");
    if (refused.more)
      TraceLine(start + std::to_wstring(refused.more) + L" more requests refused\n");
  } catch (...) {
    // The picture's result stands.
    TraceCause("Extract", E_OUTOFMEMORY, "no memory to list the refused requests");
  }
}

class Extractor final : public IPersistFile, public IExtractImage {
 public:
  Extractor() { InterlockedIncrement(&liveObjects); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPersistFile || iid == IID_IPersist) {
      *out = static_cast<IPersistFile*>(this);
    } else if (iid == IID_IExtractImage) {
      *out = static_cast<IExtractImage*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

  STDMETHODIMP GetClassID(CLSID* id) override {
    if (!id) return E_POINTER;
    *id = kClassId;
    return S_OK;
  }
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  // Only remembers the path: the page is read when the picture is asked for.
  STDMETHODIMP Load(LPCOLESTR path, DWORD) override {
    if (!path) return E_POINTER;
    try {
      path_ = path;
      return S_OK;
    } catch (...) {
      TraceCause("Load", E_OUTOFMEMORY, "no memory for the path");
      return E_OUTOFMEMORY;
    }
  }
  STDMETHODIMP Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurFile(LPOLESTR* path) override {
    if (!path) return E_POINTER;
    *path = nullptr;
    if (path_.empty()) return E_FAIL;
    const size_t bytes = (path_.size() + 1) * sizeof(wchar_t);
    *path = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*path) return E_OUTOFMEMORY;
    memcpy(*path, path_.c_str(), bytes);
    return S_OK;
  }

  // Keeps the size; the depth asked for is not followed, the picture always has 24 bits. The flags
  // change nothing: the page is always drawn at exactly this size (so its aspect is kept and what
  // lies beyond the viewport is cut), always anew, always offline. Extraction is synchronous, so
  // the answer is S_OK even when IEIFLAG_ASYNC asks.
  STDMETHODIMP GetLocation(LPWSTR location, DWORD capacity, DWORD* priority, const SIZE* size, DWORD,
                           DWORD* flags) override {
    if (!size || !flags) return E_POINTER;
    size_ = *size;
    if (location && capacity > 0) lstrcpynW(location, path_.c_str(), int(capacity));
    if (priority) *priority = IEIT_PRIORITY_NORMAL;
    *flags = kAnswerFlags;
    return S_OK;
  }

  STDMETHODIMP Extract(HBITMAP* bitmap) override {
    if (!bitmap) return E_POINTER;
    *bitmap = nullptr;
    RefusedRequests refused;
    HRESULT result = S_OK;
    try {
      if (path_.empty()) throw Failure(E_UNEXPECTED, L"no page was loaded");
      *bitmap = RenderPage(path_, size_.cx, size_.cy, ReadEngineSettings(), refused);
    } catch (const Failure& failure) {
      Trace(L"Extract", failure);
      result = failure.Result();
    } catch (const std::bad_alloc&) {
      result = E_OUTOFMEMORY;
      TraceCause("Extract", result, "out of memory");
    } catch (const zelnar::TextConversionError&) {
      result = E_UNEXPECTED;
      TraceCause("Extract", result, "a text could not be converted between UTF-8 and UTF-16");
    } catch (const std::exception& error) {
      result = E_UNEXPECTED;
      TraceCause("Extract", result, error.what());
    } catch (...) {
      result = E_UNEXPECTED;
      TraceCause("Extract", result, "an unexpected error of an unknown kind");
    }
    TraceRefused(L"Extract", refused);
    return result;
  }

 private:
  ~Extractor() { InterlockedDecrement(&liveObjects); }

  LONG references_ = 1;
  std::wstring path_;
  SIZE size_{0, 0};
};

class Factory final : public IClassFactory {
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
  STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&serverLocks)); }
  STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&serverLocks)); }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Extractor* object = new (std::nothrow) Extractor();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
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
}  // namespace wine_extractor

extern "C" {

HRESULT __stdcall DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (id != wine_extractor::kClassId) return CLASS_E_CLASSNOTAVAILABLE;
  // Loaded once for the host's life: a host that opens and closes COM around every picture would
  // otherwise load the module again for each.
  static const bool pinned = [] {
    HMODULE self = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&DllGetClassObject), &self) != FALSE;
  }();
  (void)pinned;
  return wine_extractor::factory.QueryInterface(iid, out);
}

HRESULT __stdcall DllCanUnloadNow() {
  return wine_extractor::liveObjects == 0 && wine_extractor::serverLocks == 0 ? S_OK : S_FALSE;
}

}
