// Days of jittered ticks with a user counting and editing the settings.
// TALLIMO_SOAK_DAYS sets the length (31 for a month); ctest runs two.
#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "tests/logic/LogicTest.h"

namespace tallimo {
namespace {

using Soak = LogicTest;
// Every save is flushed to the device: in memory the soak runs at the CPU's pace.
const bool kInMemory =
    std::filesystem::is_directory("/dev/shm") && !setenv("TMPDIR", "/dev/shm", 0);

// Every alarm at its minute, every hour reported with what was counted in it,
// the record saved on every tick and a heap that stays put.
TEST_F(Soak, DaysOfTicksAndInput) {
  const char* env = std::getenv("TALLIMO_SOAK_DAYS");
  const int days = env ? std::atoi(env) : 2;
  std::mt19937 rng(20261206);  // the engine's sequence is fixed by the standard
  auto chance = [&](unsigned n) { return rng() % n == 0; };
  int alarms = 0, reports = 0, base = 0;  // the count at the last report
  fake.whileBoxShown = [&](const std::string& box) {
    const int hour = fake.clock.hour;
    if (box.starts_with("i アラーム:")) alarms += hour == 6 && fake.clock.minute == 45;
    if (!box.starts_with("i ラップ件数:")) return;
    ++reports;
    EXPECT_EQ(box, "i ラップ件数: " + std::to_string((hour + 23) % 24) + "時から" +
                       std::to_string(hour) + "時までの件数は" +
                       std::to_string(state().count - std::exchange(base, state().count)) +
                       "件でした");
  };
  const LocalTime start = at(0, 0, 30);
  openAt(start, DayRecord{kToday - 1, 0, 0, kTrue, 6, 45, kTrue});
  std::size_t heapAfterFirstDay = 0;
  for (std::int64_t ms = 0; ms < days * 86400 * 1000LL;) {
    ms += 950 + rng() % 101;
    if (chance(500)) ms += 2000 + rng() % 7000;  // the machine stalls
    const LocalTime now = fake::addSeconds(start, ms / 1000);
    if (chance(20)) main().click(Main::cmdCount);
    if (chance(150)) main().rightPress(chance(2) ? Main::cmdCount : Main::cmdSet);
    if (chance(20000)) {  // mostly good numbers, sometimes a mistyped one that is cancelled
      const std::string count = chance(5) ? "１２ａ" : std::to_string(rng() % 30000);
      settings([&](FakeForm& d) {
        d.setText(Set::txtCnt, count);
        d.click(Set::cmdReg);
        if (!d.closed) d.click(Set::cmdCan);
      });
    }
    fake.tickAt(now);
    ASSERT_EQ(storedRecord(), recordFromState(state(), dayNumber(now)));  // saved every tick
    fake.boxes.clear();
    fake.played.clear();
    if (heapAfterFirstDay == 0 && ms >= 86400 * 1000LL) heapAfterFirstDay = mallinfo2().uordblks;
  }
  EXPECT_EQ(alarms, days);
  EXPECT_EQ(reports, days * 24);
  EXPECT_LE(mallinfo2().uordblks, heapAfterFirstDay + 4096) << "the heap grew";
}

}  // namespace
}  // namespace tallimo
