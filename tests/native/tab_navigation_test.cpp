// Where Tab, Shift+Tab and the arrow keys move the focus, from the controls' order and styles alone.
#include "forms/tab_navigation.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace zelnar {
namespace {

// The settings dialog's shape: two buttons and a tab control on the form (group 0), then a page
// (group 1) with an edit, a label, a disabled box, a hidden edit and a box without the tab-stop style.
TabStop Stop(int group, bool focusable, bool tabStop, bool visible = true, bool enabled = true) {
  return {group, focusable, tabStop, visible, enabled};
}
const std::vector<TabStop> kForm = {
    Stop(0, true, true),                // 0 OK
    Stop(0, true, true),                // 1 Cancel
    Stop(0, true, true),                // 2 tab control
    Stop(0, false, false),              // 3 page
    Stop(3, true, true),                // 4 edit
    Stop(3, false, false),              // 5 label
    Stop(3, true, true, true, false),   // 6 disabled box
    Stop(3, true, true, false, true),   // 7 hidden edit
    Stop(3, true, false),               // 8 box without WS_TABSTOP
};

TEST(TabNavigation, MovesThroughFocusableControlsInOrder) {
  struct Case {
    std::optional<size_t> from;
    bool forward;
    bool arrow;
    std::optional<size_t> next;
  };
  const Case cases[] = {
      {std::nullopt, true, false, 0},   // nothing focused: Tab takes the first
      {std::nullopt, false, false, 4},  // Shift+Tab the last tab stop
      {0, true, false, 1},
      {2, true, false, 4},              // past the page, into it
      {4, true, false, 0},              // label, disabled, hidden, no tab stop: round to the start
      {0, false, false, 4},             // Shift+Tab wraps backwards
      {4, true, true, 8},               // an arrow ignores the tab-stop style, stays in the page
      {8, true, true, 4},               // and wraps within it
      {4, false, true, 8},
      {1, true, true, 2},               // on the form: buttons and the tab control
      {2, true, true, 0},
      {std::nullopt, true, true, std::nullopt},  // an arrow from nowhere goes nowhere
      {99, true, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.from ? int(*c.from) : -1) << (c.forward ? " forward" : " back")
                                    << (c.arrow ? " arrow" : " tab"));
    EXPECT_EQ(NextFocus(kForm, c.from, c.forward, c.arrow), c.next);
  }
  EXPECT_EQ(NextFocus({}, std::nullopt, true, false), std::nullopt);
  EXPECT_EQ(NextFocus({Stop(0, true, true)}, 0, true, false), 0u) << "the only control keeps the focus";
}

}  // namespace
}  // namespace zelnar
