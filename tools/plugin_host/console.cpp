// Console and code-page helpers of the host program.
#include "tools/plugin_host/console.h"

#include <windows.h>

namespace plugin_host {
namespace {

void Write(DWORD which, std::wstring_view text) {
  HANDLE out = GetStdHandle(which);
  if (out == INVALID_HANDLE_VALUE || !out || text.empty()) return;
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, text.data(), DWORD(text.size()), &written, nullptr);
    return;
  }
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::string utf8(std::size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), utf8.data(), bytes, nullptr, nullptr);
  WriteFile(out, utf8.data(), DWORD(utf8.size()), &written, nullptr);
}

}  // namespace

void Out(std::wstring_view text) { Write(STD_OUTPUT_HANDLE, text); }
void Err(std::wstring_view text) { Write(STD_ERROR_HANDLE, text); }

std::wstring FromAnsi(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(std::size_t(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), n);
  return wide;
}

bool ToAnsi(std::wstring_view text, std::string* ansi) {
  ansi->clear();
  if (text.empty()) return true;
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), nullptr, 0, nullptr,
                              &lossy);
  if (n <= 0 || lossy) return false;
  ansi->resize(std::size_t(n));
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), ansi->data(), n, nullptr,
                      &lossy);
  return !lossy && ansi->find('\0') == std::string::npos;
}

}  // namespace plugin_host
