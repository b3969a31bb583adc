// Where Tab and the arrow keys move the focus in a form: a function of the controls' order and styles
// alone, so that it needs no window.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace zelnar {

// One control as the keyboard sees it. A form lists them in tab order, children right after their
// parent.
struct TabStop {
  int group = 0;           // the parent window: arrows move only among controls of one group
  bool focusable = false;  // labels, up-downs and pages never take the focus
  bool tabStop = false;    // the WS_TABSTOP style: reached by Tab
  bool visible = false;
  bool enabled = false;
};

// The control that takes the focus from `from` (the control holding it, or none): with Tab the next
// (or previous) focusable tab stop in the whole list, wrapping around; with an arrow the next (or
// previous) focusable control of the same group, tab stop or not, wrapping within the group. Hidden
// and disabled controls are passed over. None when no control qualifies, and for an arrow from none.
std::optional<size_t> NextFocus(const std::vector<TabStop>& controls, std::optional<size_t> from, bool forward,
                                bool arrow) noexcept;

}  // namespace zelnar
