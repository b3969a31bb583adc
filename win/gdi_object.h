// Ownership of GDI objects, device contexts and the objects selected into them.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

namespace zelnar {

template <typename Object>
struct GdiObjectTraits {
  using Handle = Object;
  static Handle None() noexcept { return nullptr; }
  static bool Close(Handle object) noexcept { return DeleteObject(object) != FALSE; }
};
// Deletes the GDI object (bitmap, brush, font, ...) it holds.
template <typename Object>
using GdiObject = UniqueHandle<GdiObjectTraits<Object>>;

struct MemoryDcTraits {
  using Handle = HDC;
  static Handle None() noexcept { return nullptr; }
  static bool Close(Handle dc) noexcept { return DeleteDC(dc) != FALSE; }
};
// A memory device context compatible with the screen, made at once; deleted with DeleteDC.
class MemoryDc : public UniqueHandle<MemoryDcTraits> {
 public:
  MemoryDc() noexcept : UniqueHandle(CreateCompatibleDC(nullptr)) {}
};

// A window's device context (or the screen's, for no window), released with ReleaseDC to the window
// it came from.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC Get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// One object selected into a device context for a scope; the one it replaced goes back at the end,
// before the context or the object is released.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectedObject() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace zelnar
