// The settings dialog's behaviour: filling, checking and storing.
#include "settings/dialog_unit.h"

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "filter/pattern_list.h"
#include "filter/process_lead_bytes.h"
#include "settings/integer_text.h"
#include "forms/message_box.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "win/debug_trace.h"
#include "win/error.h"
#include "win/host_result.h"
#include "win/text_conversion.h"

namespace zelnar {
namespace {

constexpr wchar_t kWidthMessage[] = L"幅の値が不正です。\n1以上の整数を入力してください。";
constexpr wchar_t kHeightMessage[] = L"高さの値が不正です。\n1以上の整数を入力してください。";
constexpr wchar_t kPatternListMessage[] = L"拡張子の構文が無効です。";
constexpr wchar_t kRegistryMessage[] = L"レジストリエラー!\n設定を保存できませんでした。";
constexpr wchar_t kTextUnreadable[] = L"入力欄の内容を読み取れませんでした。";
constexpr wchar_t kTextNotShown[] = L"設定値を表示できませんでした。";

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
    if (GetLastError() != ERROR_SUCCESS) throw Error(kTextUnreadable);
    return {};
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, &text[0], length + 1);
  if (copied <= 0) throw Error(kTextUnreadable);
  text.resize(static_cast<size_t>(copied));
  return text;
}

// A field left with its design text would be saved by the next OK as if the user had typed it.
void SetText(HWND window, const std::wstring& text) {
  if (!SetWindowTextW(window, text.c_str())) throw Error(kTextNotShown);
}

std::optional<int32_t> ReadInteger(HWND edit) {
  const std::wstring text = WindowText(edit);
  return ParseIntegerText(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

// The pattern list as the registry and the scan take it; empty when a character has no ANSI form.
std::optional<std::string> ReadPatternText(HWND edit) { return NarrowToAnsi(WindowText(edit)); }

bool PatternListAccepted(const std::string& list) {
  std::vector<char> scratch(list.begin(), list.end());
  scratch.push_back('\0');
  try {
    MatchesPatternList(kCheckedName, scratch.data(), ProcessLeadBytes());
    return true;
  } catch (const InvalidPatternError&) {
    return false;
  }
}

// The edit shows the whole value; the up-down follows it as far as its range allows.
void ShowSize(HWND updown, HWND edit, int32_t value) {
  SendMessageW(updown, UDM_SETPOS32, 0, value);
  SetText(edit, std::to_wstring(value));
}

bool Checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void SetChecked(HWND box, bool checked) { SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); }

}  // namespace

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
  std::optional<std::string> list = ReadPatternText(Control("extEdit"));
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
  const std::optional<Entered> entered = CheckedFields();
  if (!entered) return;  // the message has been shown; the dialog stays open
  const SettingsIntegers& values = entered->integers;
  // The list is compiled before anything is stored, so the record never holds half of the change.
  PreparedPatternList list = PreparePatternList(entered->ext);
  StoreSettingsIntegers(values);
  StorePatternList(std::move(list));
  // A failed write raises; the form framework reports it and the dialog stays open.
  if (!SaveSettings(values.width, values.height, values.flag1, values.flag2, entered->ext)) {
    TraceFailure(L"the settings key cannot be opened or created");
    ShowErrorMessage(Handle(), kRegistryMessage);
  }
  Close();
}

void TDialogForm::cancelButtonClick() { Close(); }

int RunConfigurationDialog(HWND parent, int function) noexcept {
  if (function != 1) return -1;
  try {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    const std::unique_ptr<TDialogForm> form = TSetDlgForm::CreateForHost<TDialogForm>(parent);
    form->FillFromSettings();
    form->RunModal();
    return 0;
  } catch (...) {
    // Creating or filling failed: say why, and tell the host that nothing was shown.
    TraceError(std::current_exception());
    ShowErrorReport(nullptr, std::current_exception());
    return kResultInternalError;
  }
}

}  // namespace zelnar
