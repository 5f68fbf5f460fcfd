#include "core/LocalTime.h"

#include <chrono>
#include <cstdio>

namespace tallimo {

std::int32_t dayNumber(int year, int month, int day) noexcept {
  using namespace std::chrono;
  constexpr sys_days kEpoch = 1899y / December / 30;
  const sys_days date = std::chrono::year{year} / month / day;
  return static_cast<std::int32_t>((date - kEpoch).count());
}

std::string formatHourMinute(const LocalTime& t) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour % 100, t.minute % 100);
  return buf;
}

}  // namespace tallimo
