#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "core/CounterState.h"
#include "core/DayRecord.h"
#include "core/Errors.h"
#include "core/LocalTime.h"

namespace tallimo {
namespace {

TEST(Counting, UpStopsAtTheTopDownNeverGoesBelowZero) {
  CounterState s{.count = 32767};
  try {
    countUp(s);
    ADD_FAILURE() << "no overflow";
  } catch (const AppError& e) {
    EXPECT_EQ(e.number(), kErrOverflow);
  }
  EXPECT_EQ(s.count, 32767);
  for (int from : {1, 0, -5, -32768}) {
    s.count = static_cast<std::int16_t>(from);
    countDown(s);
    EXPECT_EQ(s.count, from > 0 ? from - 1 : 0) << from;
  }
}

TEST(DayNumber, Table) {
  const struct {
    int y, m, d, n;
  } rows[] = {
      {1899, 12, 31, 1},    {1900, 3, 1, 61},    {2000, 2, 28, 36584},
      {2000, 2, 29, 36585}, {2000, 3, 1, 36586}, {2026, 12, 6, 46362},
  };
  for (const auto& r : rows) EXPECT_EQ(dayNumber(r.y, r.m, r.d), r.n) << r.y << "-" << r.m;
}

DayRecordBytes raw(std::initializer_list<int> values) {
  DayRecordBytes out{};
  std::ranges::transform(values, out.begin(), [](int v) { return static_cast<std::byte>(v); });
  return out;
}

TEST(RecordBytes, EncodeDecode) {
  const DayRecord record{46362.0, 42, 100, -1, 7, 30, -1};
  const DayRecordBytes bytes = raw({0x00, 0x00, 0x00, 0x00, 0x40, 0xA3, 0xE6, 0x40, 0x2A, 0x00,
                                    0x64, 0x00, 0xFF, 0xFF, 0x07, 0x00, 0x1E, 0x00, 0xFF, 0xFF});
  EXPECT_EQ(encodeDayRecord(record), bytes);
  EXPECT_EQ(decodeDayRecord(bytes), record);

  // A short file: what is missing reads as zeros.
  const DayRecord shortRead = decodeDayRecord(std::span(bytes).first(7));
  EXPECT_EQ(shortRead.savedOn, std::bit_cast<double>(std::uint64_t{0x00E6A34000000000}));
  EXPECT_EQ(shortRead, (DayRecord{shortRead.savedOn, 0, 0, 0, 0, 0, 0}));

  // A hand-edited 1 is not true, but it is kept as it stands.
  DayRecordBytes edited = bytes;
  edited[12] = edited[18] = std::byte{1};
  edited[13] = edited[19] = std::byte{0};
  EXPECT_EQ(decodeDayRecord(edited), (DayRecord{46362.0, 42, 100, 1, 7, 30, 1}));
  EXPECT_EQ(encodeDayRecord(decodeDayRecord(edited)), edited);
}

}  // namespace
}  // namespace tallimo
