// The settings dialog's behaviour: filling, checking and storing.
#include "settings/dialog_unit.h"

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <utility>

#include "filter/compiled_pattern_list.h"
#include "forms/form_error.h"
#include "forms/message_box.h"
#include "settings/integer_text.h"
#include "settings/settings_dialog.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "win/debug_trace.h"
#include "win/text_conversion.h"

namespace zelnar {
namespace {

constexpr wchar_t kWidthMessage[] = L"幅の値が不正です。\n1以上の整数を入力してください。";
constexpr wchar_t kHeightMessage[] = L"高さの値が不正です。\n1以上の整数を入力してください。";
constexpr wchar_t kPatternListMessage[] = L"拡張子の構文が無効です。";
constexpr wchar_t kRegistryMessage[] = L"レジストリエラー!\n設定を保存できませんでした。";
constexpr wchar_t kTextUnreadable[] = L"入力欄の内容を読み取れませんでした。";
constexpr wchar_t kTextNotShown[] = L"設定値を表示できませんでした。";
// A registry failure names its value in place of the %s.
constexpr wchar_t kQueryFailed[] = L"'%s' の取得に失敗しました";
constexpr wchar_t kWrongType[] = L"'%s' のデータ型が不正です";
constexpr wchar_t kSetFailed[] = L"'%s' の設定に失敗しました";

// The list is checked against this name; whether it matches does not matter.
constexpr char kCheckedName[] = "zelnar.spi";

constexpr TDialogForm::FlagBox kFlagBoxes[] = {
    {"cacheCB", "PcacheCB", 0x2},       {"aspectCB", "PaspectCB", 0x4},
    {"offlineCB", "PofflineCB", 0x8},   {"screenCB", "PscreenCB", 0x20},
    {"origsizeCB", "PorigsizeCB", 0x40}, {"qualityCB", "PqualityCB", 0x200},
};

// A read that fails raises: taken for an empty field, it would store an empty pattern list.
std::wstring WindowText(HWND window) {
  SetLastError(ERROR_SUCCESS);
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) {
    if (const DWORD code = GetLastError(); code != ERROR_SUCCESS)
      throw FormError(WithCode(L"GetWindowTextLengthW", code), kTextUnreadable);
    return {};
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, &text[0], length + 1);
  if (copied <= 0) throw FormError(WithCode(L"GetWindowTextW", GetLastError()), kTextUnreadable);
  text.resize(static_cast<size_t>(copied));
  return text;
}

// A field left with its design text would be saved by the next OK as if the user had typed it.
void SetText(HWND window, const std::wstring& text) {
  if (!SetWindowTextW(window, text.c_str()))
    throw FormError(WithCode(L"SetWindowTextW", GetLastError()), kTextNotShown);
}

std::optional<int32_t> ReadInteger(HWND edit) {
  const std::wstring text = WindowText(edit);
  return ParseIntegerText(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

// The pattern list as the registry and the scan take it; empty when a character has no ANSI form.
std::optional<std::string> ReadPatternText(HWND edit) { return NarrowToAnsi(WindowText(edit)); }

// The scan of the list stops at the first entry matching the checked name, so an invalid entry behind
// it is accepted, as the scan would accept it.
bool PatternListAccepted(const PreparedPatternList& list) {
  return list.compiled->Match(kCheckedName) != CompiledPatternList::Answer::InvalidEntryReached;
}

// The edit shows the whole value; the up-down follows it as far as its range allows.
void ShowSize(HWND updown, HWND edit, int32_t value) {
  SendMessageW(updown, UDM_SETPOS32, 0, value);
  SetText(edit, std::to_wstring(value));
}

bool Checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void SetChecked(HWND box, bool checked) { SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); }

}  // namespace

std::wstring RegistryErrorMessage(const RegistryError& error) {
  const wchar_t* text = kQueryFailed;
  if (error.WhatFailed() == RegistryError::Operation::WrongType) text = kWrongType;
  if (error.WhatFailed() == RegistryError::Operation::Set) text = kSetFailed;
  std::wstring message(text);
  message.replace(message.find(L"%s"), 2, WidenAscii(error.ValueName()));
  return message;
}

TDialogForm::TDialogForm(HWND parent) : TSetDlgForm("TDialogForm", parent) {
  BindClick("okButtonClick", [this] { okButtonClick(); });
  BindClick("cancelButtonClick", [this] { cancelButtonClick(); });
}

void TDialogForm::Loaded() {
  // The layout is left as it was last edited, with another page active; the dialog always opens on
  // the first. Likewise the fields' texts in the layout are placeholders: FillFromSettings overrides
  // them before the form is shown.
  SelectPage("optionTS");
}

void TDialogForm::FillFromSettings() {
  const SettingsIntegers values = ReadSettingsIntegers();
  const std::string ext = ReadPatternList();

  ShowSize(Control("widthUD"), Control("widthEdit"), values.width);
  ShowSize(Control("heightUD"), Control("heightEdit"), values.height);
  for (const TDialogForm::FlagBox& box : kFlagBoxes) {
    SetChecked(Control(box.picture), (values.flag1 & box.bit) != 0);
    SetChecked(Control(box.preview), (values.flag2 & box.bit) != 0);
  }
  SetText(Control("extEdit"), WidenAnsi(ext));
}

std::optional<TDialogForm::Entered> TDialogForm::CheckedFields() {
  const HWND window = Handle();
  const std::optional<int32_t> width = ReadInteger(Control("widthEdit"));
  if (!width || *width < 1) {
    ShowErrorMessage(window, kWidthMessage);
    return std::nullopt;
  }
  const std::optional<int32_t> height = ReadInteger(Control("heightEdit"));
  if (!height || *height < 1) {
    ShowErrorMessage(window, kHeightMessage);
    return std::nullopt;
  }
  std::optional<std::string> text = ReadPatternText(Control("extEdit"));
  std::optional<PreparedPatternList> list;
  if (text) list = PreparePatternList(std::move(*text));
  if (!list || !PatternListAccepted(*list)) {
    ShowErrorMessage(window, kPatternListMessage);
    return std::nullopt;
  }
  return Entered{{*width, *height, CheckedFlags(&FlagBox::picture), CheckedFlags(&FlagBox::preview)},
                 std::move(*list)};
}

uint32_t TDialogForm::CheckedFlags(const char* FlagBox::*page) {
  uint32_t flags = 0;
  for (const FlagBox& box : kFlagBoxes)
    if (Checked(Control(box.*page))) flags |= box.bit;
  return flags;
}

void TDialogForm::okButtonClick() {
  std::optional<Entered> entered = CheckedFields();
  if (!entered) return;  // the message has been shown; the dialog stays open
  const SettingsIntegers& values = entered->integers;
  const std::string ext = entered->list.text;  // the record takes the prepared text itself
  // The list was compiled before anything is stored, so the record never holds half of the change.
  StoreSettingsIntegers(values);
  StorePatternList(std::move(entered->list));
  try {
    if (!SaveSettings(values.width, values.height, values.flag1, values.flag2, ext)) {
      TraceFailure(L"the settings key cannot be opened or created");
      ShowErrorMessage(Handle(), kRegistryMessage);
    }
  } catch (const RegistryError& error) {
    // A value could not be written: the dialog stays open, so that OK can try again.
    TraceError(std::current_exception());
    ShowErrorMessage(Handle(), RegistryErrorMessage(error));
    return;
  }
  Close();
}

void TDialogForm::cancelButtonClick() { Close(); }

DialogOutcome RunSettingsDialog(HWND parent) noexcept {
  try {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    const std::unique_ptr<TDialogForm> form = TSetDlgForm::CreateForHost<TDialogForm>(parent);
    form->FillFromSettings();
    form->RunModal();
    return DialogOutcome::Ended;
  } catch (...) {
    // Creating or filling failed: say why, and let the caller tell the host that nothing was shown.
    TraceError(std::current_exception());
    ShowErrorReport(nullptr, std::current_exception());
    return DialogOutcome::NotShown;
  }
}

}  // namespace zelnar
