#include "wine_extractor/com_server/wine_paths.h"

#include <windows.h>

#include "wine_extractor/com_server/failure.h"

namespace wine_extractor {
namespace {

using ToUnixFn = char*(CDECL*)(const wchar_t*);
using ToDosFn = wchar_t*(CDECL*)(const char*);

template <typename Fn>
Fn WineExport(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC proc = kernel ? GetProcAddress(kernel, name) : nullptr;
  if (!proc) throw Failure(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), L"not running under Wine");
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

// Wine allocates the results on the process heap.
struct HeapText {
  void* text;
  ~HeapText() {
    if (text) HeapFree(GetProcessHeap(), 0, text);
  }
};

}  // namespace

std::string UnixPath(const std::wstring& windowsPath) {
  const HeapText unix{WineExport<ToUnixFn>("wine_get_unix_file_name")(windowsPath.c_str())};
  if (!unix.text) throw Failure(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), L"no Unix path for " + windowsPath);
  return static_cast<const char*>(unix.text);
}

std::wstring WindowsPath(const std::string& unixPath) {
  const HeapText dos{WineExport<ToDosFn>("wine_get_dos_file_name")(unixPath.c_str())};
  if (!dos.text) throw Failure(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), L"no Windows path for a Unix path");
  return static_cast<const wchar_t*>(dos.text);
}

}  // namespace wine_extractor
