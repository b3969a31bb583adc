// The form's keyboard: Tab, Shift+Tab, the arrows and Enter, as a dialog handles them. Which control
// takes the focus is decided by NextFocus (tab_navigation.h) from the controls' order and styles.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "forms/form.h"
#include "forms/tab_navigation.h"

namespace zelnar {
namespace {

bool CanTakeFocus(ControlKind kind) {
  return kind != ControlKind::Label && kind != ControlKind::UpDown && kind != ControlKind::Page;
}

}  // namespace

void TForm::Focus(HWND control) {
  SetFocus(control);
  if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(control, EM_SETSEL, 0, -1);
}

void TForm::FocusFirst() {
  if (savedFocus_ && IsWindow(savedFocus_) && IsChild(handle_, savedFocus_) && IsWindowVisible(savedFocus_) &&
      IsWindowEnabled(savedFocus_)) {
    SetFocus(savedFocus_);
    return;
  }
  if (const HWND first = NextInTabOrder(nullptr, true, false)) SetFocus(first);
}

HWND TForm::NextInTabOrder(HWND from, bool forward, bool arrow) const {
  // The focus may sit in a child window of a control (an edit's own child, say): its control counts.
  std::optional<size_t> start;
  for (HWND window = from; window && window != handle_ && !start; window = GetParent(window)) {
    const auto at = std::find(tabList_.begin(), tabList_.end(), window);
    if (at != tabList_.end()) start = size_t(at - tabList_.begin());
  }
  std::vector<TabStop> stops;
  std::vector<HWND> parents;  // a group is a parent window, numbered in order of appearance
  stops.reserve(tabList_.size());
  for (const HWND window : tabList_) {
    const ControlWindow* control = Find(window);
    const HWND parent = GetParent(window);
    auto group = std::find(parents.begin(), parents.end(), parent);
    if (group == parents.end()) group = parents.insert(parents.end(), parent);
    TabStop stop;
    stop.group = static_cast<int>(group - parents.begin());
    stop.focusable = control && CanTakeFocus(control->layout->kind);
    stop.tabStop = (GetWindowLongW(window, GWL_STYLE) & WS_TABSTOP) != 0;
    stop.visible = IsWindowVisible(window) != FALSE;
    stop.enabled = IsWindowEnabled(window) != FALSE;
    stops.push_back(stop);
  }
  const std::optional<size_t> next = NextFocus(stops, start, forward, arrow);
  return next ? tabList_[*next] : nullptr;
}

bool TForm::PreTranslateKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || !handle_) return false;
  const HWND target = msg.hwnd;
  if (target != handle_ && !IsChild(handle_, target)) return false;
  if (GetKeyState(VK_MENU) < 0) return false;
  const LRESULT wants = SendMessageW(target, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg));
  if (wants & DLGC_WANTALLKEYS) return false;

  switch (msg.wParam) {
    case VK_TAB: {
      if (wants & DLGC_WANTTAB) return false;
      if (const HWND next = NextInTabOrder(target, GetKeyState(VK_SHIFT) >= 0, false)) Focus(next);
      return true;
    }
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN: {
      if (wants & DLGC_WANTARROWS) return false;
      const bool forward = msg.wParam == VK_RIGHT || msg.wParam == VK_DOWN;
      if (const HWND next = NextInTabOrder(target, forward, true)) Focus(next);
      return true;
    }
    case VK_RETURN: {
      // No button is the default one: Enter presses the button that has the focus, if any.
      const ControlWindow* control = Find(target);
      if (!control || control->layout->kind != ControlKind::Button) return false;
      SendMessageW(target, BM_CLICK, 0, 0);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace zelnar
