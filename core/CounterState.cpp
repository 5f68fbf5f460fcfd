#include "core/CounterState.h"

#include <limits>

#include "core/Errors.h"

namespace tallimo {

namespace mdlPub {
CounterState state;
}

void countUp(CounterState& s) {
  if (s.count == std::numeric_limits<std::int16_t>::max()) throw overflowError();
  ++s.count;
}

void countDown(CounterState& s) noexcept {
  s.count = s.count > 0 ? s.count - 1 : 0;
}

}  // namespace tallimo
