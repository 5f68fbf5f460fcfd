#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/CounterState.h"

namespace tallimo {

// The 20-byte day record kept in "Cnt.arm": little-endian, no gaps.
struct DayRecord {
  double savedOn = 0;  // whole day number of the day it was written
  std::int16_t count = 0;
  std::int16_t goal = 0;
  Bool16 alarmOn = kFalse;
  std::int16_t alarmHour = 0;
  std::int16_t alarmMinute = 0;
  Bool16 lapOn = kFalse;

  friend bool operator==(const DayRecord&, const DayRecord&) = default;
};

inline constexpr std::size_t kDayRecordSize = 20;
using DayRecordBytes = std::array<std::byte, kDayRecordSize>;

DayRecordBytes encodeDayRecord(const DayRecord& r) noexcept;
// Reads up to 20 bytes; bytes past the end of a shorter input read as zero.
DayRecord decodeDayRecord(std::span<const std::byte> bytes) noexcept;

// The record as it is written at shutdown from the live state.
DayRecord recordFromState(const CounterState& s, std::int32_t today) noexcept;

}  // namespace tallimo
