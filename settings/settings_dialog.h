// The one way into the settings dialog from outside the settings: run it and learn how it went. What
// the host is answered for each outcome is the exports' business.
#pragma once

#include <windows.h>

namespace zelnar {

enum class DialogOutcome {
  Ended,     // the dialog was shown and the user has closed it, saved or not
  NotShown,  // it could not be created or filled; the user has been told why
};

// Shows the settings dialog owned by `parent` (a window of the host) and returns when it has ended.
// Never raises.
DialogOutcome RunSettingsDialog(HWND parent) noexcept;

}  // namespace zelnar
