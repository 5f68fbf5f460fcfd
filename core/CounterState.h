#pragma once

#include <cstdint>

namespace tallimo {

// A 16-bit truth value: -1 is true, 0 is false. Only -1 counts as true; any
// other value (1 from a hand-edited record, say) behaves as false and is kept.
using Bool16 = std::int16_t;
inline constexpr Bool16 kTrue = -1;
inline constexpr Bool16 kFalse = 0;
inline constexpr bool isTrue(Bool16 v) {
  return v == kTrue;
}

struct CounterState {
  std::int16_t count = 0;
  std::int16_t goal = 0;
  Bool16 alarmOn = kFalse;
  std::int16_t alarmHour = 0;
  std::int16_t alarmMinute = 0;
  Bool16 lapOn = kFalse;
  std::int32_t lapHour = 0;  // hour at which the current report period began
  std::int32_t lapBase = 0;  // count at the last hourly report
  std::int32_t lapDay = 0;   // day number of lapHour, so periods carry on past midnight
};

inline constexpr std::int16_t kMaxCount = 32767;

// Adds one; at 32767 throws the overflow error and leaves the count as it is.
void countUp(CounterState& s);
// Takes one away, never going below zero (a negative count becomes zero).
void countDown(CounterState& s) noexcept;

namespace mdlPub {
// The process's one counter state; every window reads and writes it directly.
extern CounterState state;
}  // namespace mdlPub

}  // namespace tallimo
