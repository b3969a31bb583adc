// A plain window for the host program, so the dialog has a host window to be modal to.
#include "tools/plugin_host/settings_window.h"

#include <string>

#include "tools/plugin_host/console.h"
#include "tools/plugin_host/plugin_library.h"

namespace plugin_host {
namespace {

constexpr wchar_t kClassName[] = L"ZelnarHostWindow";
constexpr wchar_t kTitle[] = L"zelnar host";
constexpr int kWidth = 480;
constexpr int kHeight = 320;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    static const wchar_t kText[] = L"The plug-in's settings dialog is open.";
    TextOutW(dc, 16, 16, kText, int(wcslen(kText)));
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterOnce(HINSTANCE instance) {
  WNDCLASSW existing;
  if (GetClassInfoW(instance, kClassName, &existing)) return true;
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  return RegisterClassW(&wc) != 0;
}

}  // namespace

SettingsWindow::~SettingsWindow() {
  if (window_) DestroyWindow(window_);
}

bool SettingsWindow::Create() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (RegisterOnce(instance)) {
    window_ = CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, kWidth,
                              kHeight, nullptr, nullptr, instance, nullptr);
  }
  if (!window_) {
    DWORD error = GetLastError();
    Err(L"error: cannot create the host window: " + SystemMessage(error) + L" (error " + std::to_wstring(error) +
        L")\n");
    return false;
  }
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  return true;
}

}  // namespace plugin_host
