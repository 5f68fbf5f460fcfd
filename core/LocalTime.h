#pragma once

#include <cstdint>
#include <string>

namespace tallimo {

// One reading of the local wall clock.
struct LocalTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  friend bool operator==(const LocalTime&, const LocalTime&) = default;
};

// Whole days since 30 December 1899 (the OLE Automation date of midnight).
std::int32_t dayNumber(int year, int month, int day) noexcept;
inline std::int32_t dayNumber(const LocalTime& t) noexcept {
  return dayNumber(t.year, t.month, t.day);
}

// Seconds since 30 December 1899 00:00 of the reading, for ordering readings.
inline std::int64_t secondsSinceEpoch(const LocalTime& t) noexcept {
  return std::int64_t{dayNumber(t)} * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

// "hh:mm", 24-hour, both fields two digits.
std::string formatHourMinute(const LocalTime& t);

}  // namespace tallimo
