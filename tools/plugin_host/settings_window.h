// The host's own top-level window, which owns the plug-in's settings dialog while it runs.
#pragma once

#include <windows.h>

namespace plugin_host {

class SettingsWindow {
 public:
  SettingsWindow() = default;
  ~SettingsWindow();
  SettingsWindow(const SettingsWindow&) = delete;
  SettingsWindow& operator=(const SettingsWindow&) = delete;

  // Creates and shows the window; false (with a message printed) when that fails.
  bool Create();
  HWND Handle() const { return window_; }

 private:
  HWND window_ = nullptr;
};

}  // namespace plugin_host
