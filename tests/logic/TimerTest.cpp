#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <random>
#include <span>
#include <sstream>

#include "tests/logic/LogicTest.h"

namespace tallimo {
namespace {

namespace fs = std::filesystem;

using Alarm = LogicTest;

TEST_F(Alarm, FiresOncePerMinuteOnTimeOrLateAndPlaysTheChime) {
  storeRecord({kToday - 1, 0, 0, kTrue, 12, 0, kFalse});
  openAt(at(11, 0, 0));
  std::size_t playedAtBox = 0;
  fake.whileBoxShown = [&](const fake::ShownBox&) { playedAtBox = fake.played.size(); };
  // Ticks in seconds from 12:00:00, each row on days of its own, and the alarms.
  const std::pair<std::vector<int>, int> rows[] = {
      {{-1, 0, 1, 59, 60}, 1},          // on time, once
      {{-2, -1, 1, 2}, 1},              // late after a skipped second 0
      {{-1, 60}, 0},                    // stalled past the whole minute
      {{1, 2}, 0},                      // no tick before the minute
      {{-1, 0, 0}, 1},                  // second 0 read twice
      {{-1, 0, 30, -10, -1, 0, 1}, 1},  // the clock set back
      {{-1, 0, 86399, 86401}, 2},       // the next day, late
  };
  for (int day = 0; const auto& [ticks, alarms] : rows) {
    window.setAlarmTimer(false);  // forgets the tick before
    window.setAlarmTimer(true);
    for (int t : ticks) tick(12, 0, t, day);
    EXPECT_EQ(std::ranges::count(boxes(), '\n'), alarms) << "day " << day;
    day += 3;
  }
  // The first alarm made an empty chime file; each plays a fresh read of it,
  // with one zero byte after, before its message waits.
  EXPECT_EQ(fs::file_size(fake.dir / "Chimes.wav"), 0u);
  EXPECT_EQ(fake.played.front(), std::vector{std::byte{0}});
  EXPECT_EQ(playedAtBox, fake.played.size());
  fake.writeFileBytes("Chimes.wav", {'R', 'I', 'F', 'F'});
  tick(12, 0, 0, 40);
  const std::string alarm = "i アラーム: 時間で～す！！\n";
  EXPECT_EQ(boxes(), alarm);
  EXPECT_TRUE(std::ranges::equal(mdlMain::chimeBuffer, std::as_bytes(std::span("RIFF"))));
  fs::remove(fake.dir / "Chimes.wav");
  fs::create_directory(fake.dir / "Chimes.wav");
  tick(12, 0, 0, 41);
  EXPECT_TRUE(fileErrorShown("Chimes.wav"));
  EXPECT_EQ(boxes(), alarm);

  // Times the clock never shows.
  const std::int16_t offTheClock[][2] = {{25, 0}, {24, 0}, {12, 75}};
  for (int day = 50; const auto& [hour, minute] : offTheClock) {
    state().alarmHour = hour;
    state().alarmMinute = minute;
    for (int s = 0; s < 86400; ++s) tick(0, 0, s, day);
    EXPECT_EQ(boxes(), "") << hour << ":" << minute;
    ++day;
  }
}

using Report = LogicTest;

std::string report(int from, int to, int count) {
  return "i ラップ件数: " + std::to_string(from) + "時から" + std::to_string(to) +
         "時までの件数は" + std::to_string(count) + "件でした\n";
}

// Each row opens the window at `start` with the report on and `count` brought
// back, runs its steps and lists the reports made as from, to, count. Steps:
// "+n" counts n times, "=n" sets the count in the dialog, "on" and "off"
// switch the report there, "h:m:s" ticks then, "@h" ticks over the turn of
// hour h (24 and on are the next day), "busy" ticks twice and counts while the
// next box is open.
TEST_F(Report, Examples) {
  const struct {
    LocalTime start;
    std::int16_t count;
    const char* steps;
    std::vector<std::array<int, 3>> reports;
  } rows[] = {
      {at(9, 37, 0), 40, "+2 @10 +3 @11", {{9, 10, 42}, {10, 11, 3}}},
      {at(9, 5, 0), 0, "off +7 14:30:0 on @15", {{9, 15, 7}}},
      {at(9, 37, 0), 0, "=50 @10 =10 +2 @11", {{9, 10, 50}, {10, 11, -38}}},
      {at(23, 10, 0), 0, "+4 @24 +1 @25", {{23, 0, 4}, {0, 1, 1}}},
      {at(10, 0, 0), 0, "10:0:0 +1 @11", {{10, 11, 1}}},
      {at(9, 37, 0), 0, "+1 @10 @9", {{9, 10, 1}}},  // the clock set back
      {at(9, 37, 0), 0, "+5 busy @10 @11", {{9, 10, 5}, {10, 11, 1}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.steps);
    fake.whileBoxShown = nullptr;
    startWith({kToday, row.count, 0, kFalse, 0, 0, kTrue}, row.start);
    std::istringstream steps(row.steps);
    for (std::string s; steps >> s;) {
      int n = 0, h = 0, m = 0, sec = 0;
      std::sscanf(s.c_str() + 1, "%d", &n);
      if (s[0] == '+') {
        for (int i = 0; i < n; ++i) main().click(Main::cmdCount);
      } else if (s[0] == '=' || s[0] == 'o') {
        settings([&](FakeForm& d) {
          if (s[0] == '=') d.type(Set::txtCnt, s.substr(1));
          if (s[0] == 'o') d.choose(s == "on" ? Set::optLap0 : Set::optLap1);
          d.click(Set::cmdReg);
        });
      } else if (s[0] == '@') {
        for (int t : {-1, 0, 1}) tick(n, 0, t);
      } else if (s == "busy") {
        fake.whileBoxShown = [this, busy = true](const fake::ShownBox&) mutable {
          if (!std::exchange(busy, false)) return;
          fake.tickAfter(0);
          fake.tickAfter(1);
          main().click(Main::cmdCount);
        };
      } else if (std::sscanf(s.c_str(), "%d:%d:%d", &h, &m, &sec) == 3) {
        tick(h, m, sec);
      }
    }
    std::string expected;
    for (const auto& [from, to, count] : row.reports) expected += report(from, to, count);
    EXPECT_EQ(boxes(), expected);
  }
}

TEST_F(Report, AWeekOfJitteredTicksGivesOneAlarmADayAndOneReportAnHour) {
  storeRecord({kToday - 1, 0, 0, kTrue, 7, 0, kTrue});
  openAt(at(8, 20, 0));
  int alarms = 0, reports = 0, lastCount = 0;
  bool late = false, inBox = false;
  std::string texts, expected;
  fake.whileBoxShown = [&](const fake::ShownBox& box) {
    const LocalTime now = fake.clock;
    if (box.title == "アラーム") {
      EXPECT_EQ(now, at(7, 0, now.second, ++alarms));
    } else {
      EXPECT_EQ(now, at(9 + reports++, 0, now.second));
      late |= now.second != 0;
      texts += "i ラップ件数: " + box.text + "\n";
      expected += report((now.hour + 23) % 24, now.hour, state().count - lastCount);
      lastCount = state().count;
    }
    if (std::exchange(inBox, true)) return;
    fake.tickAfter(0);  // the event loop goes on while the box is open
    inBox = false;
  };

  std::mt19937 rng(20261206);  // the engine's sequence is fixed by the standard
  for (std::int64_t ms = 0; ms < 7 * 86400 * 1000LL;) {
    ms += 950 + rng() % 101;
    if (rng() % 500 == 0) ms += 2000 + rng() % 7000;  // the machine stalls
    if (rng() % 4000 == 0) main().click(Main::cmdCount);
    fake.tickAt(fake::addSeconds(at(8, 20, 0), ms / 1000));
  }
  EXPECT_EQ(alarms, 7);
  EXPECT_EQ(reports, 7 * 24);
  EXPECT_TRUE(late);  // or the stalls proved little
  EXPECT_EQ(texts, expected);
  EXPECT_EQ(storedRecord().count, state().count);
}

}  // namespace
}  // namespace tallimo
