// The message boxes of the settings forms: caption "zelnar.spi", error icon, one OK button, shown
// the way a modal dialog is shown, and the standard error report of the form framework.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace zelnar {

inline constexpr wchar_t kMessageBoxCaption[] = L"zelnar.spi";

// Disables every visible, enabled top-level window of the thread while the box is open, then enables
// them again and gives activation and focus back to where they were.
void ShowErrorMessage(HWND owner, const std::wstring& text);

// Shows an error's text: a FormError's words for the user, another zelnar::Error's own text, or a
// generic one for other errors. Never raises.
void ShowErrorReport(HWND owner, std::exception_ptr error) noexcept;

}  // namespace zelnar
