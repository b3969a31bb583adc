#include "forms/tab_navigation.h"

namespace zelnar {

std::optional<size_t> NextFocus(const std::vector<TabStop>& controls, std::optional<size_t> from, bool forward,
                                bool arrow) noexcept {
  const size_t count = controls.size();
  if (count == 0 || (from && *from >= count)) return std::nullopt;
  if (arrow && !from) return std::nullopt;
  for (size_t step = 1; step <= count; ++step) {
    // From nowhere, Tab starts at the first control (Shift+Tab at the last); otherwise one step on.
    size_t i;
    if (!from)
      i = forward ? step - 1 : count - step;
    else
      i = forward ? (*from + step) % count : (*from + count - step % count) % count;
    const TabStop& candidate = controls[i];
    if (!candidate.focusable || !candidate.visible || !candidate.enabled) continue;
    if (arrow ? candidate.group != controls[*from].group : !candidate.tabStop) continue;
    return i;
  }
  return std::nullopt;
}

}  // namespace zelnar
