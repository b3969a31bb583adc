// Loading a plug-in DLL for the host program.
#include "tools/plugin_host/plugin_library.h"

#include "tools/plugin_host/console.h"

namespace plugin_host {

std::wstring SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : L"";
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return message;
}

PluginLibrary::~PluginLibrary() {
  if (module_) FreeLibrary(module_);
}

bool PluginLibrary::Load(const std::wstring& path) {
  path_ = path;
  // The plug-in's own dependencies are looked up next to it, as hosts load plug-ins from their
  // folder; that search needs a full path.
  wchar_t full[MAX_PATH * 4];
  DWORD n = GetFullPathNameW(path.c_str(), DWORD(sizeof full / sizeof full[0]), full, nullptr);
  const wchar_t* name = (n > 0 && n < sizeof full / sizeof full[0]) ? full : path.c_str();
  module_ = LoadLibraryExW(name, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module_) return true;
  DWORD error = GetLastError();
  Err(L"error: cannot load the plug-in " + path + L": " + SystemMessage(error) + L" (error " +
      std::to_wstring(error) + L")\n");
  return false;
}

FARPROC PluginLibrary::Find(const char* name) const {
  FARPROC proc = module_ ? GetProcAddress(module_, name) : nullptr;
  if (!proc) Err(L"error: missing export " + FromAnsi(name) + L" in " + path_ + L"\n");
  return proc;
}

}  // namespace plugin_host
