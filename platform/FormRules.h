#pragma once

// Rules every backend follows when it turns a layout table into a live form:
// written once here, so that the backends keep only their toolkit's calls.

#include <algorithm>
#include <span>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace tallimo {

// ---- The timers' tick (see FormEvents::timerTick) ----------------------------

inline constexpr int kTickPeriodMs = 1000;
// The wait, `msIntoSecond` into a second of the wall clock, for the next tick:
// just after the next second begins, so that every tick reads a new second.
constexpr int msUntilNextTick(int msIntoSecond) {
  return kTickPeriodMs + 10 - msIntoSecond;
}

// Which of a form's timers run. One wake-up ticks every running one, in
// table order, each as it stands when its turn comes.
class Timers {
 public:
  explicit Timers(std::span<const ControlSpec> controls) {
    for (const ControlSpec& c : controls) on_.push_back(c.kind == ControlKind::Timer && c.enabled);
  }
  void set(ControlId id, bool on) { on_.at(id) = on; }
  template <typename Tick>
  void tick(Tick&& tick) const {
    for (std::size_t i = 0; i < on_.size(); ++i)
      if (on_[i]) tick(static_cast<ControlId>(i));
  }

 private:
  std::vector<bool> on_;
};

// ---- Tab order -----------------------------------------------------------------

// The controls a form builds (timers aside) in tab order: by tab index, in
// table order where indexes are equal.
inline std::vector<ControlId> tabOrder(std::span<const ControlSpec> controls) {
  std::vector<ControlId> order;
  for (std::size_t i = 0; i < controls.size(); ++i)
    if (controls[i].kind != ControlKind::Timer) order.push_back(static_cast<ControlId>(i));
  std::ranges::stable_sort(
      order, [&](ControlId a, ControlId b) { return controls[a].tabIndex < controls[b].tabIndex; });
  return order;
}

// The kinds that Tab can reach; an option only while it is selected.
constexpr bool isTabStop(ControlKind kind) {
  return kind == ControlKind::Button || kind == ControlKind::TextBox || kind == ControlKind::Option;
}

// Where the focus goes when a form shows: the first control in tab order that
// can take it now (enabled, and a selected option); -1 for none.
template <typename CanFocus>
ControlId firstFocus(std::span<const ControlSpec> controls, CanFocus&& canFocus) {
  for (const ControlId id : tabOrder(controls))
    if (isTabStop(controls[id].kind) && canFocus(id)) return id;
  return -1;
}

// ---- Text ----------------------------------------------------------------------

// Where a code-point offset into a UTF-16 text falls in its units, for
// selections, which the form interface counts in characters.
template <typename Unit>
int utf16Offset(std::basic_string_view<Unit> text, int codePoints) {
  static_assert(sizeof(Unit) == 2);
  std::size_t units = 0;
  for (int i = 0; i < codePoints && units < text.size(); ++i)
    units += (text[units] >= 0xD800 && text[units] <= 0xDBFF) ? 2 : 1;
  return static_cast<int>(std::min(units, text.size()));
}

}  // namespace tallimo
