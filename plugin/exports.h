// The plug-in's exported functions, as the plug-in defines them. Each one is noexcept: nothing but
// its result leaves it. Exported under undecorated names by zelnar.def.
#pragma once

#include <windows.h>

extern "C" {

typedef int(__stdcall* ProgressCallback)(int done, int total, LONG_PTR data);

// Identity strings: 0 kind, 1 name and version, 2 pattern list, 3 format name.
int __stdcall GetPluginInfo(int index, char* buffer, int length) noexcept;
int __stdcall IsSupported(const char* name, DWORD_PTR ignored) noexcept;
int __stdcall GetPictureInfo(const char* input, LONG offset, unsigned int kind, void* record) noexcept;
int __stdcall GetPicture(const char* input, LONG offset, unsigned int kind, HLOCAL* headerOut, HLOCAL* bitsOut,
                         ProgressCallback callback, LONG_PTR data) noexcept;
int __stdcall GetPreview(const char* input, LONG offset, unsigned int kind, HLOCAL* headerOut, HLOCAL* bitsOut,
                         ProgressCallback callback, LONG_PTR data) noexcept;
int __stdcall ConfigurationDlg(HWND parent, int function) noexcept;

}
