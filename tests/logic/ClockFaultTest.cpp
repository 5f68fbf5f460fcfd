// The wall clock misbehaving under a running program: jumps of hours either
// way, the date changing while a box waits for the user, a night passed.
#include <utility>

#include "tests/logic/LogicTest.h"

namespace tallimo {
namespace {

using ClockFault = LogicTest;

const std::string kAlarm = "i アラーム: 時間で～す！！\n";
std::string report(int from, int to, int count) {
  return "i ラップ件数: " + std::to_string(from) + "時から" + std::to_string(to) +
         "時までの件数は" + std::to_string(count) + "件でした\n";
}

TEST_F(ClockFault, JumpsOfHoursForwardAndBack) {
  storeRecord({kToday - 1, 0, 0, kTrue, 12, 0, kTrue});
  openAt(at(11, 30, 0));
  main().click(Main::cmdCount);
  tick(11, 30, 1);
  tick(15, 0, 0);  // forward over the alarm minute: nothing to catch up
  EXPECT_EQ(main().caption, "15:00");
  EXPECT_EQ(boxes(), report(11, 15, 1));
  tick(11, 59, 59);  // back: the alarm minute comes round, the hours already reported do not
  tick(12, 0, 0);
  tick(13, 0, 0);
  tick(16, 0, 0);
  EXPECT_EQ(boxes(), kAlarm + report(15, 16, 0));
  tick(12, 0, 0, 1);  // a day forward lands on the alarm and a full hour at once
  EXPECT_EQ(boxes(), kAlarm + report(16, 12, 0));
  EXPECT_EQ(storedRecord(), (DayRecord{kToday + 1, 1, 0, kTrue, 12, 0, kTrue}));
  tick(11, 59, 0, 1);  // back a minute: no second alarm in the same minute
  tick(12, 0, 0, 1);
  EXPECT_EQ(boxes(), "");
}

TEST_F(ClockFault, DateChangesWhileABoxIsOpen) {
  // The restore question is answered after midnight: the count is kept and
  // saved under the new day, and reports count from the new day's hour.
  storeRecord({kToday, 7, 9, kFalse, 0, 0, kTrue});
  fake.answers = {MsgAnswer::Yes};
  fake.whileBoxShown = [&](const fake::ShownBox&) { fake.clock = at(0, 0, 3, 1); };
  openAt(at(23, 59, 58));
  fake.whileBoxShown = nullptr;
  boxes();
  tick(0, 0, 4, 1);
  EXPECT_EQ(storedRecord(), (DayRecord{kToday + 1, 7, 9, kFalse, 0, 0, kTrue}));
  tick(1, 0, 0, 1);
  EXPECT_EQ(boxes(), report(0, 1, 7));

  // The 23:00 report left open past midnight: the 0:00 report comes up over
  // it and neither counts an hour twice.
  startWith({kToday + 2, 5, 0, kFalse, 0, 0, kTrue}, at(22, 30, 0, 2));
  fake.whileBoxShown = [&, away = true](const fake::ShownBox&) mutable {
    if (std::exchange(away, false)) tick(0, 0, 0, 3);
  };
  tick(23, 0, 0, 2);
  fake.whileBoxShown = nullptr;
  main().click(Main::cmdCount);
  tick(1, 0, 0, 3);
  EXPECT_EQ(boxes(), report(22, 23, 5) + report(23, 0, 0) + report(0, 1, 1));
}

TEST_F(ClockFault, ANightWithTheAlarmAtMidnightAndTheReportOn) {
  storeRecord({kToday - 1, 0, 0, kTrue, 0, 0, kTrue});
  openAt(at(22, 30, 0));
  for (int s = 1; s <= 3 * 3600; ++s) {
    if (s % 600 == 0) main().click(Main::cmdCount);
    tick(22, 30, s);
  }
  EXPECT_EQ(boxes(), report(22, 23, 3) + kAlarm + report(23, 0, 6) + report(0, 1, 6));
  EXPECT_EQ(storedRecord(), (DayRecord{kToday + 1, 18, 0, kTrue, 0, 0, kTrue}));
}

}  // namespace
}  // namespace tallimo
