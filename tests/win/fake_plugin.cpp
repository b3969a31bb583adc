// A plug-in for testing the host program: its answers are chosen by the file name it is given, so
// every result code and a few broken hand-overs can be produced on demand.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Progress = int(__stdcall*)(int, int, LONG_PTR);

bool Has(const char* name, const char* word) { return name && std::strstr(name, word) != nullptr; }

// "...resultN..." asks for result N without a picture.
int RequestedResult(const char* name) {
  const char* at = name ? std::strstr(name, "result") : nullptr;
  return at ? std::atoi(at + 6) : 0;
}

// A width x 2 picture: header bytes as a plug-in writes them, rows of known bytes.
int MakePicture(int width, bool badHeader, HLOCAL* header, HLOCAL* bits) {
  const int stride = (3 * width + 3) & ~3;
  const int height = 2;
  *header = LocalAlloc(LMEM_MOVEABLE, sizeof(BITMAPINFOHEADER));
  *bits = LocalAlloc(LMEM_MOVEABLE, stride * height);
  auto* info = static_cast<BITMAPINFOHEADER*>(LocalLock(*header));
  auto* rows = static_cast<unsigned char*>(LocalLock(*bits));
  *info = BITMAPINFOHEADER{};
  info->biSize = sizeof(BITMAPINFOHEADER);
  info->biWidth = width;
  info->biHeight = height;
  info->biPlanes = 1;
  info->biBitCount = badHeader ? 7 : 24;
  for (int i = 0; i < stride * height; ++i) rows[i] = static_cast<unsigned char>(i + 1);
  LocalUnlock(*header);
  LocalUnlock(*bits);
  return 0;
}

int Picture(const char* input, unsigned int kind, HLOCAL* header, HLOCAL* bits, Progress callback, LONG_PTR data,
            int width) {
  if (kind & 7) return 2;
  if (callback && callback(0, 1, data)) return 1;
  *header = nullptr;
  *bits = nullptr;
  int result = RequestedResult(input);
  if (result == 0 && !Has(input, "nohandles")) MakePicture(width, Has(input, "badheader"), header, bits);
  if (callback && callback(1, 1, data)) {
    if (*header) LocalFree(*header);
    if (*bits) LocalFree(*bits);
    *header = *bits = nullptr;
    return 1;
  }
  return result;
}

// The wide forms see the name through the ANSI code page; the file names the tests use are ASCII.
std::string Narrow(const wchar_t* text) {
  if (!text) return "(null)";
  char buffer[1024];
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return n > 0 ? std::string(buffer) : std::string();
}

}  // namespace

extern "C" {

int __stdcall GetPluginInfo(int index, char* buffer, int length) {
  static const char* const kInfo[] = {"00IN", "fake plug-in", "*.htm", "fake pages"};
  if (index < 0 || index > 3) return 0;
  lstrcpynA(buffer, kInfo[index], length);
  return lstrlenA(buffer);
}

int __stdcall IsSupported(const char* name, DWORD_PTR) { return Has(name, "refuse") ? 0 : 1; }

int __stdcall GetPicture(const char* input, LONG_PTR, unsigned int kind, HLOCAL* header, HLOCAL* bits,
                         Progress callback, LONG_PTR data) {
  return Picture(input, kind, header, bits, callback, data, 2);
}

int __stdcall GetPreview(const char* input, LONG_PTR, unsigned int kind, HLOCAL* header, HLOCAL* bits,
                         Progress callback, LONG_PTR data) {
  return Picture(input, kind, header, bits, callback, data, 1);
}

// 0 only for function 1 with a visible top-level window as the parent; 42 tells a bad parent.
int __stdcall ConfigurationDlg(HWND parent, int function) {
  if (function != 1) return -1;
  bool topLevel = IsWindow(parent) && IsWindowVisible(parent) && !(GetWindowLongW(parent, GWL_STYLE) & WS_CHILD);
  return topLevel ? 0 : 42;
}

// Wide forms: the same answers, with "W" appended to the name string so a test sees which form ran.
int __stdcall GetPluginInfoW(int index, wchar_t* buffer, int length) {
  char narrow[256];
  const int n = GetPluginInfo(index, narrow, sizeof narrow);
  if (n == 0 || length < 1) return 0;
  std::string text(narrow, n);
  if (index == 1) text += " W";
  const int copied = std::min<int>(int(text.size()), length - 1);
  for (int i = 0; i < copied; ++i) buffer[i] = wchar_t(text[i]);
  buffer[copied] = L'\0';
  return copied;
}

int __stdcall IsSupportedW(const wchar_t* name, DWORD_PTR data) { return IsSupported(Narrow(name).c_str(), data); }

int __stdcall GetPictureW(const wchar_t* input, LONG_PTR, unsigned int kind, HLOCAL* header, HLOCAL* bits,
                          Progress callback, LONG_PTR data) {
  return Picture(Narrow(input).c_str(), kind, header, bits, callback, data, 2);
}

int __stdcall GetPreviewW(const wchar_t* input, LONG_PTR, unsigned int kind, HLOCAL* header, HLOCAL* bits,
                          Progress callback, LONG_PTR data) {
  return Picture(Narrow(input).c_str(), kind, header, bits, callback, data, 1);
}

}
