// Opens the settings dialog of zelnar.spi from a window of its own, selects each of its pages in
// turn and saves the dialog's window, as the screen shows it, to one BMP file per page.
// Usage: dialog_shots OUTPUT-PREFIX   (writes PREFIX-1.bmp, PREFIX-2.bmp, PREFIX-3.bmp)
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "win/bmp_writer.h"
#include "win/dib_geometry.h"
#include "win/dib_header.h"
#include "win/gdi_object.h"
#include "win/kernel_handles.h"

namespace {

using ConfigurationDlgFn = int(__stdcall*)(HWND, int);

constexpr int kPages = 3;
std::wstring outputPrefix;
bool allSaved = false;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

bool SaveWindow(HWND window, const std::wstring& path) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  const zelnar::WindowDc screen(nullptr);
  const zelnar::MemoryDc memory;
  const zelnar::GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(screen.Get(), width, height));
  if (!screen || !memory || !bitmap) return false;
  {
    const zelnar::SelectedObject selected(memory.Get(), bitmap.Get());
    BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), rect.left, rect.top, SRCCOPY);
  }

  BITMAPINFOHEADER info = zelnar::BottomUpBgr24Header(width, height);
  const auto geometry = zelnar::ComputeDibGeometry(width, height);
  if (!geometry) return false;
  std::vector<BYTE> pixels(static_cast<size_t>(geometry->imageSize));
  if (GetDIBits(memory.Get(), bitmap.Get(), 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                DIB_RGB_COLORS) != height)
    return false;

  return zelnar::WriteBmpFile(path.c_str(), &info, sizeof info, pixels.data(), pixels.size()) == 0;
}

DWORD WINAPI Photographer(void*) {
  HWND dialog = nullptr;
  for (int i = 0; i < 500 && !dialog; ++i, Sleep(20)) dialog = FindWindowW(L"TDialogForm", nullptr);
  if (!dialog) return 1;
  const HWND tabs = FindWindowExW(dialog, nullptr, WC_TABCONTROLW, nullptr);
  bool saved = tabs != nullptr;
  for (int page = 0; page < kPages && saved; ++page) {
    // As if the user had clicked the tab.
    SendMessageW(tabs, TCM_SETCURSEL, page, 0);
    NMHDR change{tabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabs)), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(dialog, WM_NOTIFY, change.idFrom, reinterpret_cast<LPARAM>(&change));
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(500);
    saved = SaveWindow(dialog, outputPrefix + L"-" + std::to_wstring(page + 1) + L".bmp");
  }
  allSaved = saved;
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: dialog_shots OUTPUT-PREFIX\n", stderr);
    return 2;
  }
  outputPrefix = argv[1];
  const HMODULE plugin = LoadLibraryW(L"zelnar.spi");
  const auto configure =
      plugin ? reinterpret_cast<ConfigurationDlgFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "ConfigurationDlg")))
             : nullptr;
  if (!configure) {
    std::fputs("cannot load zelnar.spi\n", stderr);
    return 1;
  }

  WNDCLASSW hostClass{};
  hostClass.lpfnWndProc = HostWindowProc;
  hostClass.hInstance = GetModuleHandleW(nullptr);
  hostClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  hostClass.lpszClassName = L"ShotHost";
  RegisterClassW(&hostClass);
  const HWND host = CreateWindowW(L"ShotHost", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 200, nullptr,
                                  nullptr, hostClass.hInstance, nullptr);

  const zelnar::KernelHandle thread(CreateThread(nullptr, 0, Photographer, nullptr, 0, nullptr));
  const int result = configure(host, 1);
  if (thread) WaitForSingleObject(thread.Get(), INFINITE);
  DestroyWindow(host);
  FreeLibrary(plugin);
  std::printf("ConfigurationDlg returned %d; %s\n", result, allSaved ? "pages saved" : "saving failed");
  return allSaved && result == 0 ? 0 : 1;
}
