#include "core/DayRecord.h"

#include <algorithm>
#include <bit>

namespace tallimo {
namespace {

template <typename T>
void put(DayRecordBytes& out, std::size_t offset, T value) {
  using U = std::make_unsigned_t<std::conditional_t<sizeof(T) == 8, std::int64_t, std::int16_t>>;
  const auto bits = std::bit_cast<U>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i)
    out[offset + i] = static_cast<std::byte>((bits >> (8 * i)) & 0xFF);
}

template <typename T>
T get(const DayRecordBytes& in, std::size_t offset) {
  using U = std::make_unsigned_t<std::conditional_t<sizeof(T) == 8, std::int64_t, std::int16_t>>;
  U bits = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    bits |= static_cast<U>(std::to_integer<U>(in[offset + i]) << (8 * i));
  return std::bit_cast<T>(bits);
}

}  // namespace

DayRecordBytes encodeDayRecord(const DayRecord& r) noexcept {
  DayRecordBytes out{};
  put(out, 0, r.savedOn);
  put(out, 8, r.count);
  put(out, 10, r.goal);
  put(out, 12, r.alarmOn);
  put(out, 14, r.alarmHour);
  put(out, 16, r.alarmMinute);
  put(out, 18, r.lapOn);
  return out;
}

DayRecord decodeDayRecord(std::span<const std::byte> bytes) noexcept {
  DayRecordBytes in{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), in.size()), in.begin());
  DayRecord r;
  r.savedOn = get<double>(in, 0);
  r.count = get<std::int16_t>(in, 8);
  r.goal = get<std::int16_t>(in, 10);
  r.alarmOn = get<Bool16>(in, 12);
  r.alarmHour = get<std::int16_t>(in, 14);
  r.alarmMinute = get<std::int16_t>(in, 16);
  r.lapOn = get<Bool16>(in, 18);
  return r;
}

DayRecord recordFromState(const CounterState& s, std::int32_t today) noexcept {
  return {.savedOn = static_cast<double>(today),
          .count = s.count,
          .goal = s.goal,
          .alarmOn = s.alarmOn,
          .alarmHour = s.alarmHour,
          .alarmMinute = s.alarmMinute,
          .lapOn = s.lapOn};
}

}  // namespace tallimo
