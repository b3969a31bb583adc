// The fault injector's hooks, its ledger and the import-table walk.
#include "tests/support/fault_injector.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <map>
#include <set>
#include <sstream>

namespace test {
namespace {

// A 64-bit module imports the pointer-sized form; a 32-bit one has only the 32-bit function.
#ifdef _WIN64
constexpr char kSetWindowLongName[] = "SetWindowLongPtrW";
#else
constexpr char kSetWindowLongName[] = "SetWindowLongW";
#endif

constexpr const char* kNames[kImportCount] = {
    "LocalAlloc", "LocalLock", "LocalUnlock", "LocalFree",
    "malloc", "calloc", "realloc",
    "CreateDIBSection", "CreateCompatibleDC", "SelectObject", "GetDIBits", "GetObjectW", "GdiFlush", "DeleteObject",
    "DeleteDC", "CreateFontIndirectW", "GetDIBColorTable", "GetTextMetricsW", "GetTextExtentPoint32W",
    "CoInitializeEx", "CLSIDFromProgID", "CoCreateInstance",
    "RegCreateKeyExA", "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA", "RegCloseKey",
    "MultiByteToWideChar", "WideCharToMultiByte",
    "CreateWindowExW", kSetWindowLongName, "SendMessageW", "RegisterClassExW", "GetDC", "SetWindowTextW",
    "GetWindowTextW", "GetWindowTextLengthW", "MessageBoxW",
    "FindResourceW", "LoadResource", "LockResource",
};

// One injector at a time, so the hooks find everything here.
struct State {
  void* original[kImportCount] = {};
  std::atomic<DWORD> thread{0};  // the armed thread; 0: nothing is counted
  std::atomic<int> trigger{-1};  // while set, the armed thread is not watched until this import is called
  std::mutex lock;
  int calls[kImportCount] = {};
  Import failImport = Import::Count;
  int failAt = 0;
  bool injected = false;
  std::set<HLOCAL> locals;
  std::map<void*, size_t> heap;
  std::set<HGDIOBJ> gdi;
  std::set<HKEY> keys;
  std::vector<HWND> windows;
  std::vector<HLOCAL> strandedLocals;  // releases that were made to fail
  std::vector<HGDIOBJ> strandedObjects;
  std::vector<HDC> strandedDcs;
  std::vector<HKEY> strandedKeys;
};

State& S() {
  static State state;
  return state;
}

// The thread keeping the injector's own books: when it patches the program it is part of, its own
// allocations come back through the hooks and must pass straight through.
// (Not thread_local: the runtime would allocate its storage through the very hook that asks.)
std::atomic<DWORD> bookkeeper{0};

struct Bookkeeping {
  Bookkeeping() : previous(bookkeeper.exchange(GetCurrentThreadId())) {}
  ~Bookkeeping() { bookkeeper = previous; }
  DWORD previous;
};

bool Watched() {
  const DWORD self = GetCurrentThreadId();
  return bookkeeper.load() != self && S().thread.load() == self && S().trigger.load() < 0;
}

// Counts a call of the armed thread; true when it is the one to fail.
bool Fails(Import import) {
  if (S().trigger.load() == static_cast<int>(import) && S().thread.load() == GetCurrentThreadId()) S().trigger = -1;
  if (!Watched()) return false;
  State& s = S();
  const Bookkeeping busy;
  std::lock_guard<std::mutex> guard(s.lock);
  const int n = ++s.calls[static_cast<int>(import)];
  if (import != s.failImport || n != s.failAt) return false;
  s.injected = true;
  return true;
}

template <typename Fn>
Fn Real(Import import) {
  return reinterpret_cast<Fn>(S().original[static_cast<int>(import)]);
}

template <typename Handle>
void Note(std::set<Handle>& set, Handle handle) {
  if (!handle || !Watched()) return;
  const Bookkeeping busy;
  std::lock_guard<std::mutex> guard(S().lock);
  set.insert(handle);
}

template <typename Handle>
void Forget(std::set<Handle>& set, Handle handle) {
  if (!handle || !Watched()) return;
  const Bookkeeping busy;
  std::lock_guard<std::mutex> guard(S().lock);
  set.erase(handle);
}

template <typename Handle>
void Strand(std::vector<Handle>& list, std::set<Handle>& set, Handle handle) {
  const Bookkeeping busy;
  std::lock_guard<std::mutex> guard(S().lock);
  set.erase(handle);
  if (handle) list.push_back(handle);
}

void NoteHeap(void* block, size_t bytes) {
  if (!block || !Watched()) return;
  const Bookkeeping busy;
  std::lock_guard<std::mutex> guard(S().lock);
  S().heap[block] = bytes;
}

void ForgetHeap(void* block) {
  if (!block || !Watched()) return;
  const Bookkeeping busy;
  std::lock_guard<std::mutex> guard(S().lock);
  S().heap.erase(block);
}

// ---- memory

HLOCAL WINAPI HookLocalAlloc(UINT flags, SIZE_T bytes) {
  if (Fails(Import::LocalAlloc)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  HLOCAL block = Real<decltype(&LocalAlloc)>(Import::LocalAlloc)(flags, bytes);
  Note(S().locals, block);
  return block;
}

LPVOID WINAPI HookLocalLock(HLOCAL block) {
  if (Fails(Import::LocalLock)) return SetLastError(ERROR_DISCARDED), nullptr;
  return Real<decltype(&LocalLock)>(Import::LocalLock)(block);
}

BOOL WINAPI HookLocalUnlock(HLOCAL block) {
  if (Fails(Import::LocalUnlock)) return SetLastError(ERROR_NOT_LOCKED), FALSE;
  return Real<decltype(&LocalUnlock)>(Import::LocalUnlock)(block);
}

HLOCAL WINAPI HookLocalFree(HLOCAL block) {
  if (Fails(Import::LocalFree)) {
    Strand(S().strandedLocals, S().locals, block);
    return SetLastError(ERROR_INVALID_HANDLE), block;
  }
  Forget(S().locals, block);
  return Real<decltype(&LocalFree)>(Import::LocalFree)(block);
}

void* __cdecl HookMalloc(size_t bytes) {
  if (Fails(Import::malloc)) return errno = ENOMEM, nullptr;
  void* block = Real<void*(__cdecl*)(size_t)>(Import::malloc)(bytes);
  NoteHeap(block, bytes);
  return block;
}

void* __cdecl HookCalloc(size_t count, size_t size) {
  if (Fails(Import::calloc)) return errno = ENOMEM, nullptr;
  void* block = Real<void*(__cdecl*)(size_t, size_t)>(Import::calloc)(count, size);
  NoteHeap(block, count * size);
  return block;
}

void* __cdecl HookRealloc(void* old, size_t bytes) {
  // A failed realloc leaves the old block as it was.
  if (Fails(Import::realloc)) return errno = ENOMEM, nullptr;
  void* block = Real<void*(__cdecl*)(void*, size_t)>(Import::realloc)(old, bytes);
  if (block || bytes == 0) ForgetHeap(old);
  NoteHeap(block, bytes);
  return block;
}

void* originalFree = nullptr;
void __cdecl HookFree(void* block) {
  ForgetHeap(block);
  reinterpret_cast<void(__cdecl*)(void*)>(originalFree)(block);
}

// ---- GDI

HBITMAP WINAPI HookCreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                    DWORD offset) {
  if (Fails(Import::CreateDIBSection)) {
    if (bits) *bits = nullptr;
    return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  }
  HBITMAP bitmap = Real<decltype(&CreateDIBSection)>(Import::CreateDIBSection)(dc, info, usage, bits, section, offset);
  Note(S().gdi, static_cast<HGDIOBJ>(bitmap));
  return bitmap;
}

HDC WINAPI HookCreateCompatibleDC(HDC dc) {
  if (Fails(Import::CreateCompatibleDC)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  HDC made = Real<decltype(&CreateCompatibleDC)>(Import::CreateCompatibleDC)(dc);
  Note(S().gdi, static_cast<HGDIOBJ>(made));
  return made;
}

HGDIOBJ WINAPI HookSelectObject(HDC dc, HGDIOBJ object) {
  if (Fails(Import::SelectObject)) return SetLastError(ERROR_INVALID_HANDLE), nullptr;
  return Real<decltype(&SelectObject)>(Import::SelectObject)(dc, object);
}

int WINAPI HookGetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info, UINT usage) {
  if (Fails(Import::GetDIBits)) return SetLastError(ERROR_INVALID_PARAMETER), 0;
  return Real<decltype(&GetDIBits)>(Import::GetDIBits)(dc, bitmap, start, lines, bits, info, usage);
}

int WINAPI HookGetObjectW(HANDLE object, int size, void* buffer) {
  if (Fails(Import::GetObjectW)) return SetLastError(ERROR_INVALID_HANDLE), 0;
  return Real<decltype(&GetObjectW)>(Import::GetObjectW)(object, size, buffer);
}

BOOL WINAPI HookGdiFlush() {
  if (Fails(Import::GdiFlush)) return FALSE;
  return Real<decltype(&GdiFlush)>(Import::GdiFlush)();
}

BOOL WINAPI HookDeleteObject(HGDIOBJ object) {
  if (Fails(Import::DeleteObject)) {
    Strand(S().strandedObjects, S().gdi, object);
    return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  }
  Forget(S().gdi, object);
  return Real<decltype(&DeleteObject)>(Import::DeleteObject)(object);
}

BOOL WINAPI HookDeleteDC(HDC dc) {
  if (Fails(Import::DeleteDC)) {
    const Bookkeeping busy;
    std::lock_guard<std::mutex> guard(S().lock);
    S().gdi.erase(dc);
    S().strandedDcs.push_back(dc);
    return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  }
  Forget(S().gdi, static_cast<HGDIOBJ>(dc));
  return Real<decltype(&DeleteDC)>(Import::DeleteDC)(dc);
}

HFONT WINAPI HookCreateFontIndirectW(const LOGFONTW* font) {
  if (Fails(Import::CreateFontIndirectW)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  HFONT made = Real<decltype(&CreateFontIndirectW)>(Import::CreateFontIndirectW)(font);
  Note(S().gdi, static_cast<HGDIOBJ>(made));
  return made;
}

UINT WINAPI HookGetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colours) {
  if (Fails(Import::GetDIBColorTable)) return SetLastError(ERROR_INVALID_PARAMETER), 0;
  return Real<decltype(&GetDIBColorTable)>(Import::GetDIBColorTable)(dc, start, count, colours);
}

BOOL WINAPI HookGetTextMetricsW(HDC dc, TEXTMETRICW* metrics) {
  if (Fails(Import::GetTextMetricsW)) return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  return Real<decltype(&GetTextMetricsW)>(Import::GetTextMetricsW)(dc, metrics);
}

BOOL WINAPI HookGetTextExtentPoint32W(HDC dc, LPCWSTR text, int length, SIZE* size) {
  if (Fails(Import::GetTextExtentPoint32W)) return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  return Real<decltype(&GetTextExtentPoint32W)>(Import::GetTextExtentPoint32W)(dc, text, length, size);
}

// ---- COM: results are HRESULTs, nothing goes through SetLastError

HRESULT WINAPI HookCoInitializeEx(LPVOID reserved, DWORD model) {
  if (Fails(Import::CoInitializeEx)) return E_OUTOFMEMORY;
  return Real<decltype(&CoInitializeEx)>(Import::CoInitializeEx)(reserved, model);
}

HRESULT WINAPI HookCLSIDFromProgID(LPCOLESTR progId, LPCLSID classId) {
  if (Fails(Import::CLSIDFromProgID)) return CO_E_CLASSSTRING;
  return Real<decltype(&CLSIDFromProgID)>(Import::CLSIDFromProgID)(progId, classId);
}

HRESULT WINAPI HookCoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
  if (Fails(Import::CoCreateInstance)) {
    if (object) *object = nullptr;
    return E_OUTOFMEMORY;
  }
  return Real<decltype(&CoCreateInstance)>(Import::CoCreateInstance)(classId, outer, context, iid, object);
}

// ---- registry: results are error codes

LONG WINAPI HookRegCreateKeyExA(HKEY base, LPCSTR path, DWORD reserved, LPSTR klass, DWORD options, REGSAM access,
                                const SECURITY_ATTRIBUTES* security, PHKEY key, LPDWORD disposition) {
  if (Fails(Import::RegCreateKeyExA)) return ERROR_ACCESS_DENIED;
  const LONG status = Real<decltype(&RegCreateKeyExA)>(Import::RegCreateKeyExA)(
      base, path, reserved, klass, options, access, const_cast<SECURITY_ATTRIBUTES*>(security), key, disposition);
  if (status == ERROR_SUCCESS) Note(S().keys, *key);
  return status;
}

LONG WINAPI HookRegOpenKeyExA(HKEY base, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
  if (Fails(Import::RegOpenKeyExA)) return ERROR_ACCESS_DENIED;
  const LONG status = Real<decltype(&RegOpenKeyExA)>(Import::RegOpenKeyExA)(base, path, options, access, key);
  if (status == ERROR_SUCCESS) Note(S().keys, *key);
  return status;
}

// The key was deleted by someone else while it was open: a query or write can fail this way any time.
LONG WINAPI HookRegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (Fails(Import::RegQueryValueExA)) return ERROR_KEY_DELETED;
  return Real<decltype(&RegQueryValueExA)>(Import::RegQueryValueExA)(key, name, reserved, type, data, size);
}

LONG WINAPI HookRegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  if (Fails(Import::RegSetValueExA)) return ERROR_ACCESS_DENIED;
  return Real<decltype(&RegSetValueExA)>(Import::RegSetValueExA)(key, name, reserved, type, data, size);
}

LONG WINAPI HookRegCloseKey(HKEY key) {
  if (Fails(Import::RegCloseKey)) {
    Strand(S().strandedKeys, S().keys, key);
    return ERROR_INVALID_HANDLE;
  }
  Forget(S().keys, key);
  return Real<decltype(&RegCloseKey)>(Import::RegCloseKey)(key);
}

// ---- text

int WINAPI HookMultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int bytes, LPWSTR wide, int units) {
  if (Fails(Import::MultiByteToWideChar)) return SetLastError(ERROR_NO_UNICODE_TRANSLATION), 0;
  return Real<decltype(&MultiByteToWideChar)>(Import::MultiByteToWideChar)(codePage, flags, text, bytes, wide, units);
}

int WINAPI HookWideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int units, LPSTR text, int bytes,
                                   LPCCH fallback, LPBOOL usedFallback) {
  if (Fails(Import::WideCharToMultiByte)) return SetLastError(ERROR_INSUFFICIENT_BUFFER), 0;
  return Real<decltype(&WideCharToMultiByte)>(Import::WideCharToMultiByte)(codePage, flags, wide, units, text, bytes,
                                                                            fallback, usedFallback);
}

// ---- windows

HWND WINAPI HookCreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR caption, DWORD style, int x, int y,
                                int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (Fails(Import::CreateWindowExW)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  HWND window = Real<decltype(&CreateWindowExW)>(Import::CreateWindowExW)(exStyle, className, caption, style, x, y,
                                                                          width, height, parent, menu, instance, param);
  if (window && Watched()) {
    const Bookkeeping busy;
    std::lock_guard<std::mutex> guard(S().lock);
    S().windows.push_back(window);
  }
  return window;
}

#ifdef _WIN64
LONG_PTR WINAPI HookSetWindowLongW(HWND window, int index, LONG_PTR value) {
  if (Fails(Import::SetWindowLongW)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  return Real<decltype(&SetWindowLongPtrW)>(Import::SetWindowLongW)(window, index, value);
}
#else
LONG WINAPI HookSetWindowLongW(HWND window, int index, LONG value) {
  if (Fails(Import::SetWindowLongW)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  return Real<decltype(&SetWindowLongW)>(Import::SetWindowLongW)(window, index, value);
}
#endif

// As for a window that is gone: nothing is delivered, the result is 0.
LRESULT WINAPI HookSendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (Fails(Import::SendMessageW)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  return Real<decltype(&SendMessageW)>(Import::SendMessageW)(window, message, wParam, lParam);
}

ATOM WINAPI HookRegisterClassExW(const WNDCLASSEXW* windowClass) {
  if (Fails(Import::RegisterClassExW)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 0;
  return Real<decltype(&RegisterClassExW)>(Import::RegisterClassExW)(windowClass);
}

HDC WINAPI HookGetDC(HWND window) {
  if (Fails(Import::GetDC)) return nullptr;
  const HDC dc = Real<decltype(&GetDC)>(Import::GetDC)(window);
  Note(S().gdi, static_cast<HGDIOBJ>(dc));
  return dc;
}

// Only watched, never failed (as free): a window's DC taken and never given back is a leak.
void* originalReleaseDC = nullptr;
int WINAPI HookReleaseDC(HWND window, HDC dc) {
  Forget(S().gdi, static_cast<HGDIOBJ>(dc));
  return reinterpret_cast<decltype(&ReleaseDC)>(originalReleaseDC)(window, dc);
}

BOOL WINAPI HookSetWindowTextW(HWND window, LPCWSTR text) {
  if (Fails(Import::SetWindowTextW)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), FALSE;
  return Real<decltype(&SetWindowTextW)>(Import::SetWindowTextW)(window, text);
}

int WINAPI HookGetWindowTextW(HWND window, LPWSTR text, int capacity) {
  if (Fails(Import::GetWindowTextW)) {
    if (text && capacity > 0) text[0] = L'\0';
    return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  }
  return Real<decltype(&GetWindowTextW)>(Import::GetWindowTextW)(window, text, capacity);
}

int WINAPI HookGetWindowTextLengthW(HWND window) {
  if (Fails(Import::GetWindowTextLengthW)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  return Real<decltype(&GetWindowTextLengthW)>(Import::GetWindowTextLengthW)(window);
}

int WINAPI HookMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  if (Fails(Import::MessageBoxW)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 0;
  return Real<decltype(&MessageBoxW)>(Import::MessageBoxW)(owner, text, caption, type);
}

// ---- resources

HRSRC WINAPI HookFindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (Fails(Import::FindResourceW)) return SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND), nullptr;
  return Real<decltype(&FindResourceW)>(Import::FindResourceW)(module, name, type);
}

HGLOBAL WINAPI HookLoadResource(HMODULE module, HRSRC resource) {
  if (Fails(Import::LoadResource)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  return Real<decltype(&LoadResource)>(Import::LoadResource)(module, resource);
}

LPVOID WINAPI HookLockResource(HGLOBAL resource) {
  if (Fails(Import::LockResource)) return nullptr;
  return Real<decltype(&LockResource)>(Import::LockResource)(resource);
}

void* const kHooks[kImportCount] = {
    reinterpret_cast<void*>(HookLocalAlloc), reinterpret_cast<void*>(HookLocalLock),
    reinterpret_cast<void*>(HookLocalUnlock), reinterpret_cast<void*>(HookLocalFree),
    reinterpret_cast<void*>(HookMalloc), reinterpret_cast<void*>(HookCalloc), reinterpret_cast<void*>(HookRealloc),
    reinterpret_cast<void*>(HookCreateDIBSection), reinterpret_cast<void*>(HookCreateCompatibleDC),
    reinterpret_cast<void*>(HookSelectObject), reinterpret_cast<void*>(HookGetDIBits),
    reinterpret_cast<void*>(HookGetObjectW), reinterpret_cast<void*>(HookGdiFlush),
    reinterpret_cast<void*>(HookDeleteObject), reinterpret_cast<void*>(HookDeleteDC),
    reinterpret_cast<void*>(HookCreateFontIndirectW), reinterpret_cast<void*>(HookGetDIBColorTable),
    reinterpret_cast<void*>(HookGetTextMetricsW), reinterpret_cast<void*>(HookGetTextExtentPoint32W),
    reinterpret_cast<void*>(HookCoInitializeEx), reinterpret_cast<void*>(HookCLSIDFromProgID),
    reinterpret_cast<void*>(HookCoCreateInstance),
    reinterpret_cast<void*>(HookRegCreateKeyExA), reinterpret_cast<void*>(HookRegOpenKeyExA),
    reinterpret_cast<void*>(HookRegQueryValueExA), reinterpret_cast<void*>(HookRegSetValueExA),
    reinterpret_cast<void*>(HookRegCloseKey),
    reinterpret_cast<void*>(HookMultiByteToWideChar), reinterpret_cast<void*>(HookWideCharToMultiByte),
    reinterpret_cast<void*>(HookCreateWindowExW), reinterpret_cast<void*>(HookSetWindowLongW),
    reinterpret_cast<void*>(HookSendMessageW), reinterpret_cast<void*>(HookRegisterClassExW),
    reinterpret_cast<void*>(HookGetDC), reinterpret_cast<void*>(HookSetWindowTextW),
    reinterpret_cast<void*>(HookGetWindowTextW), reinterpret_cast<void*>(HookGetWindowTextLengthW),
    reinterpret_cast<void*>(HookMessageBoxW),
    reinterpret_cast<void*>(HookFindResourceW), reinterpret_cast<void*>(HookLoadResource),
    reinterpret_cast<void*>(HookLockResource),
};

template <typename T>
T* At(HMODULE module, DWORD rva) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

// Calls `visit(name, slot)` for every import by name of the module.
template <typename Visit>
void ForEachImport(HMODULE module, Visit visit) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  const auto* nt = At<const IMAGE_NT_HEADERS>(module, dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!directory.VirtualAddress) return;
  for (auto* d = At<const IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress); d->Name; ++d) {
    const auto* names = At<const IMAGE_THUNK_DATA>(module, d->OriginalFirstThunk ? d->OriginalFirstThunk
                                                                                  : d->FirstThunk);
    auto* slots = At<IMAGE_THUNK_DATA>(module, d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = At<const IMAGE_IMPORT_BY_NAME>(module, DWORD(names->u1.AddressOfData));
      visit(reinterpret_cast<const char*>(byName->Name), reinterpret_cast<void**>(&slots->u1.Function));
    }
  }
}

void WriteSlot(void** slot, void* value) {
  DWORD protection = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
  *slot = value;
  VirtualProtect(slot, sizeof *slot, protection, &protection);
}

}  // namespace

const char* ImportName(Import import) noexcept { return kNames[static_cast<int>(import)]; }

void* HookFor(Import import) noexcept { return kHooks[static_cast<int>(import)]; }
void SetOriginal(Import import, void* address) noexcept { S().original[static_cast<int>(import)] = address; }

std::string Holdings::Describe() const {
  std::ostringstream text;
  text << localBlocks.size() << " local blocks, " << heapBlocks.size() << " heap blocks (";
  for (size_t bytes : heapBytes) text << bytes << " ";
  text << "bytes), " << gdiObjects.size()
       << " GDI objects, " << keys.size() << " registry keys, " << windowsAlive.size() << " windows";
  return text.str();
}

int PatchImport(HMODULE module, const char* name, void* replacement, void** original) {
  int written = 0;
  ForEachImport(module, [&](const char* imported, void** slot) {
    if (std::strcmp(imported, name) != 0) return;
    if (original && *slot != replacement) *original = *slot;
    WriteSlot(slot, replacement);
    ++written;
  });
  return written;
}

FaultInjector::FaultInjector(HMODULE module) : module_(module) {
  for (int i = 0; i < kImportCount; ++i) {
    void* original = nullptr;
    if (PatchImport(module, kNames[i], kHooks[i], &original)) {
      S().original[i] = original;
      ++patched_;
    }
  }
  // free is only watched, never failed: its failure has no documented form.
  PatchImport(module, "free", reinterpret_cast<void*>(HookFree), &originalFree);
  PatchImport(module, "ReleaseDC", reinterpret_cast<void*>(HookReleaseDC), &originalReleaseDC);
}

FaultInjector::~FaultInjector() {
  Disarm();
  for (int i = 0; i < kImportCount; ++i)
    if (S().original[i]) PatchImport(module_, kNames[i], S().original[i], nullptr);
  if (originalFree) PatchImport(module_, "free", originalFree, nullptr);
  if (originalReleaseDC) PatchImport(module_, "ReleaseDC", originalReleaseDC, nullptr);
}

void FaultInjector::ArmThread(DWORD thread, Import import, int n) {
  State& s = S();
  const Bookkeeping busy;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    std::fill(std::begin(s.calls), std::end(s.calls), 0);
    s.failImport = import;
    s.failAt = n;
    s.injected = false;
    s.locals.clear();
    s.heap.clear();
    s.gdi.clear();
    s.keys.clear();
    s.windows.clear();
  }
  s.thread = thread;
}

void FaultInjector::Arm(Import import, int n) {
  S().trigger = -1;
  ArmThread(GetCurrentThreadId(), import, n);
}

void FaultInjector::ArmFrom(Import trigger, Import import, int n) {
  S().trigger = static_cast<int>(trigger);
  ArmThread(GetCurrentThreadId(), import, n);
}

void FaultInjector::Disarm() {
  S().thread = 0;
  S().trigger = -1;
}

void FaultInjector::Resume() { S().thread = GetCurrentThreadId(); }

int FaultInjector::Calls(Import import) const {
  std::lock_guard<std::mutex> guard(S().lock);
  return S().calls[static_cast<int>(import)];
}

bool FaultInjector::Injected() const {
  std::lock_guard<std::mutex> guard(S().lock);
  return S().injected;
}

Import FaultInjector::Failed() const {
  std::lock_guard<std::mutex> guard(S().lock);
  return S().injected ? S().failImport : Import::Count;
}

Holdings FaultInjector::Held() const {
  State& s = S();
  const Bookkeeping busy;
  std::lock_guard<std::mutex> guard(s.lock);
  Holdings held;
  held.localBlocks.assign(s.locals.begin(), s.locals.end());
  for (const auto& [block, bytes] : s.heap) {
    held.heapBlocks.push_back(block);
    held.heapBytes.push_back(bytes);
  }
  // Checked by handle as well: an object the ledger lost sight of still shows here.
  for (HGDIOBJ object : s.gdi)
    if (GetObjectType(object) != 0) held.gdiObjects.push_back(object);
  held.keys.assign(s.keys.begin(), s.keys.end());
  for (HWND window : s.windows)
    if (IsWindow(window)) held.windowsAlive.push_back(window);
  return held;
}

void FaultInjector::HandedOver(HLOCAL block) {
  const Bookkeeping busy;
  std::lock_guard<std::mutex> guard(S().lock);
  S().locals.erase(block);
}

void FaultInjector::CleanUpAfterFailedReleases() {
  State& s = S();
  const Bookkeeping busy;
  std::lock_guard<std::mutex> guard(s.lock);
  for (HLOCAL block : s.strandedLocals) Real<decltype(&LocalFree)>(Import::LocalFree)(block);
  for (HGDIOBJ object : s.strandedObjects) Real<decltype(&DeleteObject)>(Import::DeleteObject)(object);
  for (HDC dc : s.strandedDcs) Real<decltype(&DeleteDC)>(Import::DeleteDC)(dc);
  for (HKEY key : s.strandedKeys) Real<decltype(&RegCloseKey)>(Import::RegCloseKey)(key);
  s.strandedLocals.clear();
  s.strandedObjects.clear();
  s.strandedDcs.clear();
  s.strandedKeys.clear();
}

}  // namespace test
