// Message boxes that behave like modal dialogs towards the thread's other windows.
#include "forms/message_box.h"

#include <new>
#include <vector>

#include "forms/form_error.h"
#include "win/text_conversion.h"

namespace zelnar {
namespace {

BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM list) {
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  try {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

std::wstring ErrorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const TextConversionError& e) {
    return e.WhatFailed() == TextConversionError::Reason::TooLong ? L"文字列が長すぎます"
                                                                   : L"文字列を変換できませんでした";
  } catch (const FormError& e) {
    return e.Shown();
  } catch (const Error& e) {
    return e.Text();  // an error of a lower layer: its own, English, description
  } catch (const std::bad_alloc&) {
    return L"メモリが不足しています。";
  } catch (const std::exception& e) {
    return WidenAscii(e.what());
  } catch (...) {
    return L"予期しないエラーが発生しました。";
  }
}

}  // namespace

void ShowErrorMessage(HWND owner, const std::wstring& text) {
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
  const HWND active = GetActiveWindow();
  const HWND focus = GetFocus();
  for (HWND window : disabled) EnableWindow(window, FALSE);

  MessageBoxW(owner, text.c_str(), kMessageBoxCaption, MB_OK | MB_ICONERROR);

  for (HWND window : disabled)
    if (IsWindow(window)) EnableWindow(window, TRUE);
  if (active && IsWindow(active)) SetActiveWindow(active);
  if (focus && IsWindow(focus)) SetFocus(focus);
}

void ShowErrorReport(HWND owner, std::exception_ptr error) noexcept {
  try {
    ShowErrorMessage(owner, ErrorText(error));
  } catch (...) {
    MessageBoxW(owner, L"予期しないエラーが発生しました。", kMessageBoxCaption, MB_OK | MB_ICONERROR);
  }
}

}  // namespace zelnar
