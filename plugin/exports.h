// The plug-in's exported functions, as the plug-in defines them. Each one is noexcept: nothing but
// its result leaves it. Exported under undecorated names by zelnar.def (32-bit) and zelnar64.def.
// In the 64-bit build only the pointer-sized parameters widen: LONG_PTR is 32 bits in the 32-bit one.
#pragma once

#include <windows.h>

extern "C" {

typedef int(__stdcall* ProgressCallback)(int done, int total, LONG_PTR data);

// Identity strings: 0 kind, 1 name and version, 2 pattern list, 3 format name.
int __stdcall GetPluginInfo(int index, char* buffer, int length) noexcept;
int __stdcall IsSupported(const char* name, DWORD_PTR head) noexcept;  // head: pointer-sized, never read
int __stdcall GetPictureInfo(const char* input, LONG_PTR length, unsigned int kind, void* record) noexcept;
int __stdcall GetPicture(const char* input, LONG_PTR offset, unsigned int kind, HLOCAL* headerOut, HLOCAL* bitsOut,
                         ProgressCallback callback, LONG_PTR data) noexcept;
int __stdcall GetPreview(const char* input, LONG_PTR offset, unsigned int kind, HLOCAL* headerOut, HLOCAL* bitsOut,
                         ProgressCallback callback, LONG_PTR data) noexcept;
int __stdcall ConfigurationDlg(HWND parent, int function) noexcept;

// The wide forms, for names outside the ANSI code page. `length` of GetPluginInfoW counts WCHARs.
int __stdcall GetPluginInfoW(int index, wchar_t* buffer, int length) noexcept;
int __stdcall IsSupportedW(const wchar_t* name, DWORD_PTR head) noexcept;
int __stdcall GetPictureInfoW(const wchar_t* input, LONG_PTR length, unsigned int kind, void* record) noexcept;
int __stdcall GetPictureW(const wchar_t* input, LONG_PTR offset, unsigned int kind, HLOCAL* headerOut,
                          HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept;
int __stdcall GetPreviewW(const wchar_t* input, LONG_PTR offset, unsigned int kind, HLOCAL* headerOut,
                          HLOCAL* bitsOut, ProgressCallback callback, LONG_PTR data) noexcept;

}
