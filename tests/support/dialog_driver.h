// Drives a modal form from a helper thread while the test's own thread runs it: a host window of
// the test's own, finding the dialog and its controls, clicking, typing and reading message boxes.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

namespace test {

inline constexpr wchar_t kDialogClass[] = L"TDialogForm";
inline constexpr wchar_t kDialogCaption[] = L"zelnarオプション";
inline constexpr UINT kDestroyYourself = WM_APP + 1;

inline LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kDestroyYourself) {
    DestroyWindow(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A top-level window standing in for the host's main window, on the calling thread.
class HostWindow {
 public:
  HostWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TestHostWindow";
    RegisterClassW(&windowClass);
    window_ = CreateWindowW(L"TestHostWindow", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                            nullptr, nullptr, windowClass.hInstance, nullptr);
  }
  ~HostWindow() {
    if (IsWindow(window_)) DestroyWindow(window_);
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  HWND Get() const { return window_; }

 private:
  HWND window_;
};

template <typename Predicate>
bool WaitFor(Predicate done, int milliseconds = 5000) {
  for (int waited = 0; waited < milliseconds; waited += 10) {
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

inline HWND FindDialog() { return FindWindowW(kDialogClass, kDialogCaption); }

// The message box the plug-in shows, if one is open.
inline HWND FindMessageBox() { return FindWindowW(L"#32770", L"zelnar.spi"); }

// Waits for the plug-in's message box, reads its text as UTF-16 and presses its OK button.
// Empty when no box appeared.
inline std::wstring DismissMessageBox() {
  HWND box = nullptr;
  if (!WaitFor([&] { return (box = FindMessageBox()) != nullptr; })) return L"";
  wchar_t text[512] = {};
  WaitFor([&] { return GetDlgItemTextW(box, 0xFFFF, text, 512) > 0; }, 1000);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  WaitFor([&] { return !IsWindow(box); });
  return text;
}

// The number of visible push buttons of a message box.
inline int VisibleButtons(HWND box) {
  int count = 0;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[16] = {};
    GetClassNameW(child, name, 16);
    if (lstrcmpiW(name, L"Button") == 0 && IsWindowVisible(child)) ++count;
  }
  return count;
}

// Controls of the settings dialog, found the way a user sees them: by class, caption and order.
struct DialogControls {
  HWND dialog = nullptr;
  HWND ok = nullptr, cancel = nullptr, tabs = nullptr;
  HWND optionPage = nullptr, picturePage = nullptr, previewPage = nullptr;
  HWND widthEdit = nullptr, heightEdit = nullptr, extEdit = nullptr, widthUD = nullptr, heightUD = nullptr;

  explicit DialogControls(HWND window) : dialog(window) {
    ok = FindWindowExW(dialog, nullptr, L"Button", L"設定");
    cancel = FindWindowExW(dialog, nullptr, L"Button", L"キャンセル");
    tabs = FindWindowExW(dialog, nullptr, WC_TABCONTROLW, nullptr);
    optionPage = FindWindowExW(tabs, nullptr, L"TTabSheet", L"設定");
    picturePage = FindWindowExW(tabs, nullptr, L"TTabSheet", L"通常時");
    previewPage = FindWindowExW(tabs, nullptr, L"TTabSheet", L"プレビュー時");
    // The edits in creation order, which is their tab order.
    widthEdit = FindWindowExW(optionPage, nullptr, L"Edit", nullptr);
    heightEdit = FindWindowExW(optionPage, widthEdit, L"Edit", nullptr);
    extEdit = FindWindowExW(optionPage, heightEdit, L"Edit", nullptr);
    widthUD = FindWindowExW(optionPage, nullptr, UPDOWN_CLASSW, nullptr);
    heightUD = FindWindowExW(optionPage, widthUD, UPDOWN_CLASSW, nullptr);
  }

  // A check box of the full-picture page (or the preview page) by its caption.
  HWND Box(const wchar_t* caption, bool preview = false) const {
    return FindWindowExW(preview ? previewPage : picturePage, nullptr, L"Button", caption);
  }
};

inline std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

inline void Type(HWND edit, const std::wstring& text) { SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())); }

// Clicks through the dialog's queue, so that a message box the click opens does not block us.
inline void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

inline HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

// The control that has the focus once the dialog has given it to one of its controls.
inline HWND FocusedControl(HWND dialog) {
  HWND focus = nullptr;
  WaitFor([&] { return (focus = FocusOf(dialog)) != nullptr && IsChild(dialog, focus); }, 2000);
  return focus;
}

// Alt+F4 as the focused control receives it (the context bit marks Alt as held).
inline void PressAltF4(HWND dialog) {
  PostMessageW(FocusedControl(dialog), WM_SYSKEYDOWN, VK_F4, LPARAM(1) | (LPARAM(1) << 29));
}

// Runs `open` on this thread (it shows the dialog and returns when it has ended) while `script` gets
// the dialog on a helper thread. A dialog the script leaves open is cancelled, with a failure.
inline int RunScripted(const std::function<int()>& open, const std::function<void(HWND dialog)>& script,
                       const std::function<HWND()>& find = FindDialog) {
  std::thread helper([&] {
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = find()) != nullptr && IsWindowVisible(dialog); })) {
      ADD_FAILURE() << "the dialog did not open";
      return;
    }
    // The form is shown before its owner is disabled; a sent message is answered only once the
    // form's thread pumps its own loop, after that step.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    script(dialog);
    if (!WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); })) {
      ADD_FAILURE() << "the dialog did not end";
      for (HWND box; (box = FindMessageBox()) != nullptr; Sleep(50)) PostMessageW(box, WM_COMMAND, IDOK, 0);
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
  });
  const int result = open();
  helper.join();
  return result;
}

}  // namespace test
