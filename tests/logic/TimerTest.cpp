// The alarm and the hourly report against a clock that the tests move, on
// time, late, backwards, over midnight and while a box waits for the user.
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/logic/LogicTest.h"

namespace tallimo {
namespace {

namespace fs = std::filesystem;
using Alarm = LogicTest;
const std::string kAlarm = "i アラーム: 時間で～す！！\n";

TEST_F(Alarm, FiresOncePerMinuteOnTimeOrLate) {
  openAt(at(11, 0, 0), DayRecord{kToday - 1, 0, 0, kTrue, 12, 30, kFalse});
  // Each row on days of its own: ticks in seconds from 12:30:00, "ok" the
  // dialog's OK, "away" and "back" the alarm moved to 12:31 and back to
  // 12:30; and the alarms they give.
  const std::pair<const char*, int> rows[] = {
      {"-1 0 1 59 60", 1},        // on time, once
      {"-2 -1 1 2", 1},           // late after a skipped second 0
      {"-60 40", 1},              // late after a long stall
      {"-1 60", 0},               // stalled past the whole minute
      {"1 2", 0},                 // no tick before the minute
      {"-1 0 0", 1},              // second 0 read twice
      {"-1 0 30 -10 -1 0 1", 1},  // the clock set back
      {"-1 0 86399 86401", 2},    // the next day, late
      {"-1 ok 1", 1},             // the dialog's OK keeps the tick before
      {"away 0 back 1", 0},       // moved here after its second 0
  };
  for (int day = 0; const auto& [steps, alarms] : rows) {
    SCOPED_TRACE(steps);
    window->setAlarmTimer(false);  // forgets the tick before
    window->setAlarmTimer(true);
    std::istringstream in(steps);
    for (std::string s; in >> s;) {
      if (s == "ok")
        settings([](FakeForm& d) { d.click(Set::cmdReg); });
      else if (s == "away" || s == "back")
        state().alarmMinute = s == "away" ? 31 : 30;
      else
        tick(12, 30, std::stoi(s), day);
    }
    EXPECT_EQ(std::ranges::count(boxes(), '\n'), alarms);
    day += 3;
  }
}

TEST_F(Alarm, PlaysAFreshReadOfTheChimeBeforeItsMessage) {
  openAt(at(11, 0, 0), DayRecord{kToday - 1, 0, 0, kTrue, 12, 0, kFalse});
  std::size_t playedAtBox = 0;
  fake.whileBoxShown = [&](const std::string&) { playedAtBox = fake.played.size(); };
  const auto chime = fake.dir / "Chimes.wav";
  // None (an empty one is made), a file, a minute of CD-quality sound, and one
  // past 256 MiB that is reported from its length, without a byte of it read.
  constexpr std::uintmax_t kCap = std::uintmax_t{256} << 20;
  const std::uintmax_t sizes[] = {0, 4, 44 + 60 * 44100 * 4, kCap + 1};
  for (int day = 1; const std::uintmax_t size : sizes) {
    if (day > 1) fake.writeFile("Chimes.wav", "RIFF"), fs::resize_file(chime, size);
    const std::uint64_t readBefore = fake.bytesRead;
    tick(12, 0, 0, day++);
    EXPECT_EQ(fs::file_size(chime), size);
    if (size > kCap) {
      EXPECT_EQ(boxes(), "- Tallimo: ファイル \"" + chime.string() +
                             "\" は大きすぎます（256 MB まで）。\n" + kAlarm);
      EXPECT_EQ(fake.played.size(), 3u);
      EXPECT_EQ(fake.bytesRead, readBefore);
      continue;
    }
    EXPECT_EQ(boxes(), kAlarm);
    ASSERT_EQ(playedAtBox, static_cast<std::size_t>(day - 1));
    const auto& played = fake.played.back();
    EXPECT_EQ(played.size(), size + 1);
    EXPECT_EQ(played.back(), std::byte{0});
    EXPECT_EQ(played.front(), static_cast<std::byte>(size ? 'R' : 0));
  }
}

using Report = LogicTest;

// Each row opens the window at `start` with the report on and `count` brought
// back, runs its steps and lists the reports made as from, to, count. Steps:
// "+n" counts n times, "=n" sets the count in the dialog, "on", "off" and
// "ok" switch the report or change nothing there, "h:m:s" ticks then, "@h"
// ticks over the turn of hour h (24 and on are the next day), "wait" leaves
// the next report open while a tick of the same second comes, a count is
// made and the next full hour is reached.
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
      {at(22, 30, 0), 5, "wait @23 +1 @25 23:0:0", {{22, 23, 5}, {23, 0, 1}, {0, 1, 1}}},
      {at(11, 30, 0), 0, "+1 15:0:0 11:59:59 13:0:0 16:0:0", {{11, 15, 1}, {15, 16, 0}}},
      {at(10, 0, 0), 0, "10:0:0 +1 @11", {{10, 11, 1}}},       // started on the full hour
      {at(23, 30, 0), 0, "23:59:59 +1 24:0:1", {{23, 0, 1}}},  // second 0 of midnight missed
      // Only second 0 of minute 0 reports, or the first tick after it when
      // the tick before came earlier while the report was on.
      {at(9, 5, 0), 0, "off 10:0:30 on 10:0:31 10:0:32 10:30:0 @11", {{9, 11, 0}}},
      {at(9, 5, 0), 0, "9:59:58 off on 10:0:1 10:59:59 ok 11:0:1", {{9, 11, 0}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.steps);
    fake.whileBoxShown = nullptr;
    openAt(row.start, DayRecord{kToday, row.count, 0, kFalse, 0, 0, kTrue});
    std::istringstream steps(row.steps);
    for (std::string s; steps >> s;) {
      int n = 0, h = 0, m = 0, sec = 0;
      std::sscanf(s.c_str() + 1, "%d", &n);
      if (s[0] == '+') {
        for (int i = 0; i < n; ++i) main().click(Main::cmdCount);
      } else if (s[0] == '=' || s[0] == 'o') {
        settings([&](FakeForm& d) {
          if (s[0] == '=') d.setText(Set::txtCnt, s.substr(1));
          if (s == "on" || s == "off") d.select(s == "on" ? Set::optLap0 : Set::optLap1);
          d.click(Set::cmdReg);
        });
      } else if (s[0] == '@') {
        for (int t : {-1, 0, 1}) tick(n, 0, t);
      } else if (s == "wait") {
        fake.whileBoxShown = [this, first = true](const std::string&) mutable {
          if (!std::exchange(first, false)) return;
          fake.tickAt(fake.clock);
          main().click(Main::cmdCount);
          fake.tickAt(fake::addSeconds(fake.clock, 3600));
        };
      } else if (std::sscanf(s.c_str(), "%d:%d:%d", &h, &m, &sec) == 3) {
        tick(h, m, sec);
      }
    }
    std::string expected;
    for (const auto& [from, to, count] : row.reports)
      expected += "i ラップ件数: " + std::to_string(from) + "時から" + std::to_string(to) +
                  "時までの件数は" + std::to_string(count) + "件でした\n";
    EXPECT_EQ(boxes(), expected);
  }
}

}  // namespace
}  // namespace tallimo
