// Days of jittered ticks with a user clicking, editing the settings and
// restarting the program once a day. TALLIMO_SOAK_DAYS sets the length (31
// for a month); ctest runs a short one.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <random>

#include "tests/logic/LogicTest.h"

namespace {
// Live heap bytes, counted by the replaced global operator new and delete.
std::size_t liveBytes = 0;
constexpr std::size_t kHeader = alignof(std::max_align_t);
}  // namespace

void* operator new(std::size_t size) {
  auto* p = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (p == nullptr) throw std::bad_alloc();
  *reinterpret_cast<std::size_t*>(p) = size;
  liveBytes += size;
  return p + kHeader;
}
void operator delete(void* ptr) noexcept {
  if (ptr == nullptr) return;
  auto* p = static_cast<unsigned char*>(ptr) - kHeader;
  liveBytes -= *reinterpret_cast<std::size_t*>(p);
  std::free(p);
}
void operator delete(void* ptr, std::size_t) noexcept {
  operator delete(ptr);
}

namespace tallimo {
namespace {

using Soak = LogicTest;

TEST_F(Soak, DaysOfTicksInputAndRestarts) {
  const char* env = std::getenv("TALLIMO_SOAK_DAYS");
  const int days = env ? std::atoi(env) : 2;
  std::mt19937 rng(20261206);  // the engine's sequence is fixed by the standard
  auto chance = [&](unsigned n) { return rng() % n == 0; };
  const LocalTime start = at(0, 0, 30);
  storeRecord({kToday - 1, 0, 0, kTrue, 6, 45, kTrue});

  std::optional<frmMain> app;
  int periodHour = 0, lastSnapshot = 0, alarms = 0, reports = 0, restarts = 0, edits = 0, ticks = 0,
      presses = 0, errors = 0;
  std::int64_t lastAlarmDay = -1, lastReportHour = -1;  // the clock only goes forward here
  auto boot = [&](bool restore) {
    const CounterState before = state();
    if (restore) fake.answers = {MsgAnswer::Yes};
    app.emplace(fake);
    mdlPub::state = {};
    app->open();
    if (restore) {
      EXPECT_EQ(state().count, before.count);
      EXPECT_EQ(state().goal, before.goal);
    }
    periodHour = fake.clock.hour;
    lastSnapshot = 0;
  };
  fake.whileBoxShown = [&](const fake::ShownBox& box) {
    const LocalTime now = fake.clock;
    const std::int64_t minute = secondsSinceEpoch(now) / 60;
    if (box.title == "アラーム") {
      ++alarms;
      EXPECT_TRUE(now.hour == 6 && now.minute == 45);
      EXPECT_GT(dayNumber(now), std::exchange(lastAlarmDay, dayNumber(now))) << "second alarm";
    } else if (box.title == "ラップ件数") {
      ++reports;
      EXPECT_EQ(now.minute, 0);
      EXPECT_GT(minute / 60, std::exchange(lastReportHour, minute / 60)) << "second report";
      EXPECT_EQ(box.text, std::to_string(periodHour) + "時から" + std::to_string(now.hour) +
                              "時までの件数は" + std::to_string(state().count - lastSnapshot) +
                              "件でした");
      periodHour = now.hour;
      lastSnapshot = state().count;
    } else if (box.title == "Tallimo") {
      ++errors;  // a mistyped number in the dialog, or a count already at its limit
    }
  };
  // A user editing the settings: mostly good numbers, sometimes a typing
  // mistake that the dialog reports and the user then cancels.
  auto edit = [&] {
    ++edits;
    const int pick = static_cast<int>(rng() % 10);
    const std::string count = pick == 0   ? "１２ａ"
                              : pick == 1 ? "40000"
                                          : std::to_string(rng() % 30000);
    settings([&](FakeForm& d) {
      d.type(Set::txtGoal, std::to_string(rng() % 500));
      d.type(Set::txtCnt, count);
      d.click(Set::cmdReg);
      if (!d.closed) d.click(Set::cmdCan);
    });
  };

  fake.clock = start;
  boot(false);
  fake.boxes.clear();
  std::size_t bytesAfterFirstDay = 0;
  std::int64_t restartAt = 86400 / 2;
  for (std::int64_t ms = 0; ms < days * 86400 * 1000LL;) {
    ms += 950 + rng() % 101;
    if (chance(500)) ms += 2000 + rng() % 7000;  // the machine stalls
    const LocalTime now = fake::addSeconds(start, ms / 1000);
    if (chance(20)) ++presses, main().click(Main::cmdCount);
    if (chance(150)) ++presses, main().rightPress(chance(2) ? Main::cmdCount : Main::cmdSet);
    if (chance(20000)) edit();
    // Once a day the user closes the program and starts it again, away from
    // the full hours and the alarm.
    if (ms / 1000 >= restartAt && now.minute > 2 && now.minute < 40) {
      fake.clock = now;
      main().closeBox();
      EXPECT_EQ(storedRecord(), recordFromState(state(), dayNumber(now)));
      boot(true);
      ++restarts;
      restartAt += 86400 + static_cast<std::int64_t>(rng() % 7200) - 3600;
    }
    fake.tickAt(now);
    ++ticks;
    // The clock tick saves whatever changed since the tick before.
    ASSERT_EQ(storedRecord(), recordFromState(state(), dayNumber(now)));
    fake.boxes.clear();
    fake.played.clear();
    if (bytesAfterFirstDay == 0 && ms >= 86400 * 1000LL) bytesAfterFirstDay = liveBytes;
  }
  EXPECT_EQ(alarms, days);
  EXPECT_EQ(reports, days * 24);
  EXPECT_GE(restarts, days - 1);
  EXPECT_LE(liveBytes, bytesAfterFirstDay + 4096) << "the heap grew";
  std::printf(
      "soak: %d days, %d ticks, %d presses, %d alarms, %d hourly reports, %d restarts, %d dialog "
      "edits, "
      "%d error reports, count %d; heap %zu bytes after day 1, %zu at the end\n",
      days, ticks, presses, alarms, reports, restarts, edits, errors, state().count,
      bytesAfterFirstDay, liveBytes);
}

}  // namespace
}  // namespace tallimo
