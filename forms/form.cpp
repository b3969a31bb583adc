// The form framework's window side: building windows from the layout, the window procedures, and
// showing, hiding and closing. The messages go to typed handlers (form_messages.cpp); the keyboard is
// handled in form_keyboard.cpp.
#include "forms/form.h"

#include <commctrl.h>

#include <algorithm>

#include "forms/form_error.h"
#include "forms/message_box.h"
#include "win/debug_trace.h"
#include "win/module_instance.h"
#include "win/text_conversion.h"

namespace zelnar {
namespace {

constexpr wchar_t kPageClass[] = L"TTabSheet";
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL

// A window call that failed: its name and code for the trace, the user's words for the report.
FormError WindowError(const std::wstring& call, const std::wstring& shown, DWORD code) {
  return FormError(WithCode(call, code), shown + L" (エラー " + std::to_wstring(code) + L")");
}

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = ModuleInstance();
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name;
  if (RegisterClassExW(&windowClass)) return;
  const DWORD code = GetLastError();
  // Another form of this module, still open, registered the same class with the same procedure.
  if (code == ERROR_CLASS_ALREADY_EXISTS) return;
  throw WindowError(L"RegisterClassExW", L"ウィンドウクラスを登録できませんでした", code);
}

std::string_view LoadLayoutResource(const std::string& className) {
  std::wstring name;
  for (char c : className) name.push_back(static_cast<wchar_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
  const HMODULE module = ModuleInstance();
  HRSRC resource = FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!resource)
    throw WindowError(L"FindResourceW " + name, L"フォーム定義 " + name + L" が見つかりません", GetLastError());
  HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data)
    throw WindowError(L"LoadResource " + name, L"フォーム定義 " + name + L" を読み込めませんでした",
                      GetLastError());
  return std::string_view(static_cast<const char*>(data), SizeofResource(module, resource));
}

struct ControlClass {
  const wchar_t* name;
  DWORD style;
  DWORD exStyle;
};

ControlClass ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::Button: return {L"BUTTON", BS_PUSHBUTTON, 0};
    case ControlKind::Label: return {L"STATIC", SS_LEFTNOWORDWRAP, 0};
    case ControlKind::Edit: return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::UpDown:
      // UDS_NOTHOUSANDS: the edits take plain digits only, so the position must not be grouped.
      return {UPDOWN_CLASSW, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0};
    case ControlKind::CheckBox: return {L"BUTTON", BS_AUTOCHECKBOX, 0};
    case ControlKind::TabControl: return {WC_TABCONTROLW, WS_CLIPCHILDREN, 0};
    case ControlKind::Page: return {kPageClass, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT};
  }
  return {L"STATIC", 0, 0};
}

// Labels size themselves to their text, so a face wider than the design's still shows all of it.
void FitLabel(HWND label, const std::wstring& text, HFONT font, const Bounds& bounds) {
  SIZE extent{};
  bool measured = false;
  {
    const WindowDc dc(label);
    if (!dc) return;
    const SelectedObject selected(dc.Get(), font);
    measured = GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &extent) != FALSE;
  }
  if (measured && extent.cx != bounds.width)
    SetWindowPos(label, nullptr, 0, 0, extent.cx, bounds.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Stores the form in the window's user data. The previous value is 0, so only the last error tells a
// failure from success.
bool AttachForm(HWND window, TForm* form) {
  SetLastError(ERROR_SUCCESS);
  return SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form)) != 0 ||
         GetLastError() == ERROR_SUCCESS;
}

}  // namespace

LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    // A window that cannot find its form would never end the modal loop: it is not created at all.
    if (!AttachForm(window, form)) return FALSE;
    form->handle_ = window;
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  // Nothing may unwind through the window manager's frames.
  try {
    return form->Dispatch(message, wParam, lParam);
  } catch (...) {
    TraceError(std::current_exception());
    ShowErrorReport(form->handle_, std::current_exception());
    return 0;
  }
}

LRESULT CALLBACK PageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    if (!AttachForm(window, static_cast<TForm*>(create->lpCreateParams))) return FALSE;
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  // The controls on a page notify the page; the form handles them.
  if (form && form->handle_ && (message == WM_COMMAND || message == WM_NOTIFY))
    return SendMessageW(form->handle_, message, wParam, lParam);
  return DefWindowProcW(window, message, wParam, lParam);
}

TForm::TForm(std::string className, HWND parentWindow)
    : className_(std::move(className)), parentWindow_(parentWindow) {
  windowClass_.assign(className_.begin(), className_.end());
}

TForm::~TForm() {
  if (handle_) DestroyWindow(handle_);
  if (classRegistered_) {
    // Fails while another open form of this module still uses a class; that form unregisters it.
    UnregisterClassW(windowClass_.c_str(), ModuleInstance());
    UnregisterClassW(kPageClass, ModuleInstance());
  }
}

void TForm::BindClick(const std::string& event, std::function<void()> handler) {
  clickHandlers_[event] = std::move(handler);
}

void TForm::Build() {
  layout_ = ParseFormLayout(LoadLayoutResource(className_));
  if (layout_.className != className_)
    throw LayoutError(L"the form layout names another class", L"フォーム定義のクラス名が違います");
  for (const ControlLayout& control : layout_.controls) {
    if (!control.click.empty() && !clickHandlers_.count(control.click))
      throw LayoutError(L"the form layout names an unbound event " + WidenAscii(control.click),
                        L"イベント " + WidenAscii(control.click) + L" がありません");
  }
  classRegistered_ = true;
  RegisterWindowClass(windowClass_.c_str(), FormWindowProc);
  RegisterWindowClass(kPageClass, PageWindowProc);
  CreateFont();
  CreateHandle();
  Loaded();
}

void TForm::CreateFont() {
  const WindowDc screen(nullptr);
  if (!screen) throw WindowError(L"GetDC", L"画面の情報を取得できませんでした", GetLastError());
  const int pixelsPerInch = GetDeviceCaps(screen.Get(), LOGPIXELSY);
  LOGFONTW font{};
  font.lfHeight = layout_.fontHeight;
  if (pixelsPerInch != layout_.designPixelsPerInch)
    font.lfHeight = ScaleLength(layout_.fontHeight, pixelsPerInch, layout_.designPixelsPerInch);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = static_cast<BYTE>(layout_.fontCharset);
  const std::wstring face = WidenUtf8(layout_.fontFace);
  face.copy(font.lfFaceName, LF_FACESIZE - 1);
  font_ = GdiObject<HFONT>(CreateFontIndirectW(&font));

  TEXTMETRICW metrics{};
  bool measured = false;
  if (font_) {
    const SelectedObject selected(screen.Get(), font_.Get());
    measured = GetTextMetricsW(screen.Get(), &metrics) != FALSE;
  }
  if (!measured) throw FormError(L"the form's font has no metrics", L"フォントを作成できませんでした");
  // A font whose text is taller or shorter than the design's makes the whole form grow or shrink.
  if (metrics.tmHeight != layout_.designTextHeight) ScaleLayout(layout_, metrics.tmHeight, layout_.designTextHeight);
}

void TForm::CreateParams(FormCreateParams& params) {
  // Every windowed control starts as a clipped child of its parent window.
  params.style = WS_CHILD | WS_CLIPSIBLINGS;
  params.parent = parentWindow_;
  // The form: a fixed dialog border with a caption and the system menu only.
  params.style |= WS_CLIPCHILDREN | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  params.exStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
  if (!parentWindow_) params.style &= ~WS_CHILD;
}

HWND TForm::Handle() {
  if (!handle_) CreateHandle();
  return handle_;
}

void TForm::CreateHandle() {
  FormCreateParams params;
  CreateParams(params);
  RECT outer{0, 0, layout_.clientWidth, layout_.clientHeight};
  AdjustWindowRectEx(&outer, params.style, FALSE, params.exStyle);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  // Centred on the screen; the division rounds toward zero.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  const std::wstring caption = WidenUtf8(layout_.caption);
  const HWND window = CreateWindowExW(params.exStyle, windowClass_.c_str(), caption.c_str(),
                                      params.style & ~WS_VISIBLE, left, top, width, height, params.parent,
                                      nullptr, ModuleInstance(), this);
  if (!window) throw WindowError(L"CreateWindowExW", L"ウィンドウを作成できませんでした", GetLastError());

  controls_.clear();
  CreateChildren(layout_.className, window);

  // The up-downs take their buddies once every control exists; the buddy keeps its laid-out place.
  for (const ControlWindow& control : controls_) {
    const ControlLayout& layout = *control.layout;
    if (layout.kind != ControlKind::UpDown) continue;
    const HWND buddy = Control(layout.buddy);
    SendMessageW(control.window, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
    SendMessageW(control.window, UDM_SETRANGE32, static_cast<WPARAM>(layout.minimum), layout.maximum);
    SendMessageW(control.window, UDM_SETPOS32, 0, layout.position);
    const Bounds& b = layout.bounds;
    const Bounds& e = Find(layout.buddy)->layout->bounds;
    SetWindowPos(buddy, nullptr, e.left, e.top, e.width, e.height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(control.window, nullptr, b.left, b.top, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  tabList_.clear();
  std::function<void(std::string_view)> addChildren = [&](std::string_view parent) {
    for (const ControlLayout* child : layout_.Children(parent)) {
      tabList_.push_back(Find(child->name)->window);
      addChildren(child->name);
    }
  };
  addChildren(layout_.className);
}

void TForm::CreateChildren(std::string_view parentName, HWND parentWindow) {
  for (const ControlLayout* control : layout_.Children(parentName)) {
    if (control->kind == ControlKind::Page) continue;  // made by their tab control
    const HWND window = CreateControl(*control, parentWindow);
    if (control->kind == ControlKind::TabControl) CreatePages(*control, window);
  }
}

HWND TForm::CreateControl(const ControlLayout& control, HWND parentWindow) {
  const ControlClass info = ClassOf(control.kind);
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | info.style;
  if (control.kind != ControlKind::Page) style |= WS_VISIBLE;
  if (control.tabStop) style |= WS_TABSTOP;
  if (!control.enabled) style |= WS_DISABLED;
  const int id = kFirstControlId + static_cast<int>(controls_.size());
  const std::wstring caption = WidenUtf8(control.caption);

  Bounds b = control.bounds;
  if (control.kind == ControlKind::Page) {
    // A page fills the display area of its tab control.
    RECT area;
    GetClientRect(parentWindow, &area);
    SendMessageW(parentWindow, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    b = {area.left, area.top, area.right - area.left, area.bottom - area.top};
  }
  const HWND window = CreateWindowExW(info.exStyle, info.name, caption.c_str(), style, b.left, b.top, b.width,
                                      b.height, parentWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                      ModuleInstance(), this);
  if (!window)
    throw WindowError(L"CreateWindowExW " + WidenAscii(control.name),
                      L"コントロール " + WidenAscii(control.name) + L" を作成できませんでした", GetLastError());
  controls_.push_back({&control, window});
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  if (control.kind == ControlKind::Label) FitLabel(window, caption, font_.Get(), b);
  return window;
}

void TForm::CreatePages(const ControlLayout& tabs, HWND tabWindow) {
  const std::vector<const ControlLayout*> pages = layout_.Children(tabs.name);
  int index = 0;
  for (const ControlLayout* page : pages) {
    std::wstring text = WidenUtf8(page->caption);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = &text[0];
    SendMessageW(tabWindow, TCM_INSERTITEMW, index++, reinterpret_cast<LPARAM>(&item));
  }
  for (const ControlLayout* page : pages) {
    const HWND pageWindow = CreateControl(*page, tabWindow);
    CreateChildren(page->name, pageWindow);
  }
  if (!tabs.activePage.empty()) SelectPage(tabs.activePage);
}

const TForm::ControlWindow* TForm::Find(HWND window) const noexcept {
  if (!window) return nullptr;
  for (const ControlWindow& control : controls_)
    if (control.window == window) return &control;
  return nullptr;
}

const TForm::ControlWindow* TForm::Find(std::string_view name) const noexcept {
  for (const ControlWindow& control : controls_)
    if (control.layout->name == name) return &control;
  return nullptr;
}

HWND TForm::Control(std::string_view name) const {
  const ControlWindow* control = Find(name);
  if (!control || !control->window)
    throw FormError(L"no control " + WidenAscii(std::string(name)),
                    L"コントロール " + WidenAscii(std::string(name)) + L" がありません");
  return control->window;
}

void TForm::SelectPage(std::string_view page) {
  const ControlWindow* pageControl = Find(page);
  if (!pageControl || pageControl->layout->kind != ControlKind::Page)
    throw FormError(L"no page " + WidenAscii(std::string(page)),
                    L"ページ " + WidenAscii(std::string(page)) + L" がありません");
  const std::vector<const ControlLayout*> pages = layout_.Children(pageControl->layout->parent);
  const auto at = std::find(pages.begin(), pages.end(), pageControl->layout);
  const HWND tabWindow = Control(pageControl->layout->parent);
  // Selecting in code sends no change notification: the pages are shown here.
  SendMessageW(tabWindow, TCM_SETCURSEL, static_cast<WPARAM>(at - pages.begin()), 0);
  ShowSelectedPage(tabWindow);
}

void TForm::ShowSelectedPage(HWND tabWindow) {
  const ControlWindow* tabs = Find(tabWindow);
  if (!tabs) return;
  const LRESULT selected = SendMessageW(tabWindow, TCM_GETCURSEL, 0, 0);
  const std::vector<const ControlLayout*> pages = layout_.Children(tabs->layout->name);
  const HWND focus = GetFocus();
  for (size_t i = 0; i < pages.size(); ++i) {
    const HWND page = Control(pages[i]->name);
    if (static_cast<LRESULT>(i) == selected) {
      ShowWindow(page, SW_SHOW);
      continue;
    }
    // The focus must not stay on a control that disappears.
    if (focus && (focus == page || IsChild(page, focus))) SetFocus(tabWindow);
    ShowWindow(page, SW_HIDE);
  }
}

void TForm::Show() {
  const HWND window = Handle();
  visible_ = true;
  ShowWindow(window, SW_SHOW);
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void TForm::Hide() {
  const bool wasShown = visible_;
  visible_ = false;
  if (handle_) ShowWindow(handle_, SW_HIDE);
  if (wasShown) DoHide();
}

void TForm::Close() {
  if (!CloseQuery()) return;
  Hide();
}

void TForm::Clicked(HWND window) {
  const ControlWindow* control = Find(window);
  if (!control || control->layout->click.empty()) return;
  // The handler may end the form; keep a copy of what runs.
  const std::function<void()> handler = clickHandlers_.at(control->layout->click);
  handler();
}

TForm* TForm::FromWindow(HWND window) noexcept {
  if (!window) return nullptr;
  const HWND root = GetAncestor(window, GA_ROOT);
  if (!root || GetWindowLongPtrW(root, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&FormWindowProc)) return nullptr;
  return reinterpret_cast<TForm*>(GetWindowLongPtrW(root, GWLP_USERDATA));
}

}  // namespace zelnar
