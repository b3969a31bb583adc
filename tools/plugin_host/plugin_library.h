// A plug-in DLL loaded by path, with its exports looked up under their plain names and the exact
// signatures a host calls them through.
#pragma once

#include <windows.h>

#include <string>

namespace plugin_host {

// In a 64-bit host the pointer-sized parameters (LONG_PTR, pointers) are 64 bits; the rest stay 32.
using ProgressCallback = int(__stdcall*)(int done, int total, LONG_PTR data);
using GetPluginInfoFn = int(__stdcall*)(int index, char* buffer, int length);
using IsSupportedFn = int(__stdcall*)(const char* name, DWORD_PTR data);
using GetPictureFn = int(__stdcall*)(const char* input, LONG_PTR offset, unsigned int kind, HLOCAL* header,
                                     HLOCAL* bits, ProgressCallback callback, LONG_PTR data);
using ConfigurationDlgFn = int(__stdcall*)(HWND parent, int function);
// The wide forms, for paths outside the ANSI code page.
using GetPluginInfoWFn = int(__stdcall*)(int index, wchar_t* buffer, int length);
using IsSupportedWFn = int(__stdcall*)(const wchar_t* name, DWORD_PTR data);
using GetPictureWFn = int(__stdcall*)(const wchar_t* input, LONG_PTR offset, unsigned int kind, HLOCAL* header,
                                      HLOCAL* bits, ProgressCallback callback, LONG_PTR data);

class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads the DLL; on failure prints why and returns false.
  bool Load(const std::wstring& path);

  // Looks an export up; when it is missing, prints so and returns null.
  template <typename Fn>
  Fn Export(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(Find(name)));
  }

 private:
  FARPROC Find(const char* name) const;

  HMODULE module_ = nullptr;
  std::wstring path_;
};

// The system's text for a Win32 error code, without the trailing line break.
std::wstring SystemMessage(DWORD code);

}  // namespace plugin_host
