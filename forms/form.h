// A small form framework: a window built from a layout resource named after the form's class, with
// push buttons, labels, edits, check boxes, up-down controls and a tab control with pages, keyboard
// navigation in tab order (tab_navigation.h), and hooks for subclasses (creation parameters, message
// dispatch, hide).
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "forms/form_layout.h"
#include "win/gdi_object.h"

namespace zelnar {

// What the form's window is created with. The base fills it in; subclasses may change it.
struct FormCreateParams {
  DWORD style = 0;
  DWORD exStyle = 0;
  HWND parent = nullptr;
};

class TForm {
 public:
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // The form's window, created together with its controls when it does not exist yet.
  HWND Handle();
  HWND HandleIfCreated() const noexcept { return handle_; }

  bool Visible() const noexcept { return visible_; }
  int ModalResult() const noexcept { return modalResult_; }
  void SetModalResult(int result) noexcept { modalResult_ = result; }

  // Makes the form visible and brings it to the front.
  void Show();
  // Makes the form invisible; when it stops being shown, the hide hook runs before this returns.
  void Hide();
  // Asks CloseQuery, then hides the form.
  void Close();

  // The window of a control named in the layout; raises when there is none.
  HWND Control(std::string_view name) const;
  // Makes a page of a tab control the selected and shown one.
  void SelectPage(std::string_view page);

  // Keyboard handling before translation: Tab, Shift+Tab, arrows, Enter on a button. True when the
  // message was consumed.
  bool PreTranslateKey(const MSG& msg);

  // The form whose window is the given window or one of its ancestors; null for other windows.
  static TForm* FromWindow(HWND window) noexcept;

 protected:
  // Stores the window the form will belong to; nothing is built until Build.
  TForm(std::string className, HWND parentWindow);

  // Reads the layout resource named after the class and creates the windows. Runs once the object
  // is complete, so that the hooks below are the most derived ones; ends with Loaded.
  void Build();
  // Binds the handler that a layout's click=<event> names. Before Build.
  void BindClick(const std::string& event, std::function<void()> handler);

  // Window-creation parameters hook: called each time the form's window is about to be created.
  virtual void CreateParams(FormCreateParams& params);
  // Message dispatch hook: sees every message sent or posted to the form's window. Kept raw on purpose:
  // a host-modal form must see WM_DESTROY (and any message) whatever the typed handlers below do.
  // The base hands each message it knows, unpacked, to one of those handlers.
  virtual LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  // Hide hook: runs when the form stops being shown.
  virtual void DoHide() {}
  // Whether Close may hide the form.
  virtual bool CloseQuery() { return true; }
  // Runs at the end of Build.
  virtual void Loaded() {}

 private:
  struct ControlWindow {
    const ControlLayout* layout;
    HWND window;
  };

  friend LRESULT CALLBACK FormWindowProc(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK PageWindowProc(HWND, UINT, WPARAM, LPARAM);

  // Typed handlers (form_messages.cpp); each returns whether it handled its message, else the
  // default runs.
  bool OnCommand(int id, int code, HWND control);
  bool OnNotify(const NMHDR& header);
  void OnClose();
  void OnActivate(int state, bool minimized);
  void OnSetFocus();
  void OnNcDestroy() noexcept;

  void CreateHandle();
  void CreateFont();
  void CreateChildren(std::string_view parentName, HWND parentWindow);
  HWND CreateControl(const ControlLayout& control, HWND parentWindow);
  void CreatePages(const ControlLayout& tabs, HWND tabWindow);
  const ControlWindow* Find(HWND window) const noexcept;
  const ControlWindow* Find(std::string_view name) const noexcept;
  void ShowSelectedPage(HWND tabWindow);
  void Clicked(HWND window);
  void FocusFirst();
  void Focus(HWND control);
  HWND NextInTabOrder(HWND from, bool forward, bool arrow) const;

  std::string className_;
  std::wstring windowClass_;
  HWND parentWindow_;
  HWND handle_ = nullptr;
  bool visible_ = false;
  int modalResult_ = 0;
  bool classRegistered_ = false;
  FormLayout layout_;
  GdiObject<HFONT> font_;
  std::vector<ControlWindow> controls_;  // in creation order
  std::vector<HWND> tabList_;            // every control in tab order, children after their parent
  HWND savedFocus_ = nullptr;
  std::map<std::string, std::function<void()>> clickHandlers_;
};

}  // namespace zelnar
