// The layout of a form as its resource describes it: one line per form, font and control, positions
// in pixels for the design resolution and text height. Parsing and scaling need no window.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "forms/form_error.h"

namespace zelnar {

enum class ControlKind { Button, Label, Edit, UpDown, CheckBox, TabControl, Page };

struct Bounds {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct ControlLayout {
  ControlKind kind = ControlKind::Label;
  std::string name;
  std::string parent;   // the form's class name, or another control
  Bounds bounds;        // relative to the parent; pages take the tab control's display area
  int tabOrder = -1;    // -1: not in the tab order
  bool tabStop = false; // reached by Tab
  bool enabled = true;
  std::string caption;  // UTF-8
  std::string click;    // event name of a click, or empty
  std::string buddy;    // up-down: the edit it drives
  int minimum = 0;
  int maximum = 0;
  int position = 0;
  std::string activePage;  // tab control: the page the resource names as active
};

struct FormLayout {
  std::string className;
  std::string caption;  // UTF-8
  int clientWidth = 0;
  int clientHeight = 0;
  int designPixelsPerInch = 96;
  int designTextHeight = 16;
  std::string fontFace;  // UTF-8
  int fontHeight = 0;
  int fontCharset = 0;
  std::vector<ControlLayout> controls;  // parents before their children

  const ControlLayout* Find(std::string_view name) const noexcept;
  // Direct children of a form or control, ordered by tab order, then by their order in the resource.
  std::vector<const ControlLayout*> Children(std::string_view parent) const;
};

class LayoutError : public FormError {
 public:
  using FormError::FormError;
};

// Raises LayoutError naming the line for anything it does not understand.
FormLayout ParseFormLayout(std::string_view text);

// value * numerator / denominator, rounded half away from zero, as the system's MulDiv does.
int ScaleLength(int value, int numerator, int denominator) noexcept;

// Scales the client size and every control's position and size except the pages'.
void ScaleLayout(FormLayout& layout, int numerator, int denominator);

}  // namespace zelnar
