#include <vector>

#include "core/Errors.h"
#include "tests/logic/LogicTest.h"

namespace tallimo {
namespace {

class Settings : public LogicTest {
 protected:
  // Starts the day with these figures and, when on, the alarm at 7:05.
  void start(std::int16_t goal, std::int16_t count, bool alarm, bool lap) {
    startWith({kToday, count, goal, alarm ? kTrue : kFalse, 7, 5, lap ? kTrue : kFalse},
              at(9, 37, 0));
  }
  static void expectAlarmFields(const FakeForm& d, bool on, const char* hour, const char* minute) {
    for (ControlId box : {Set::txtAla0, Set::txtAla1}) {
      EXPECT_EQ(d[box].enabled, on);
      EXPECT_EQ(d[box].back, on ? SysColor::WindowBackground : SysColor::ButtonFace);
    }
    EXPECT_EQ(d[Set::txtAla0].text, hour);
    EXPECT_EQ(d[Set::txtAla1].text, minute);
  }
};

TEST_F(Settings, OpensWithTheStateAndSwitchesTheAlarmFields) {
  start(-12, 34, false, true);
  settings([&](FakeForm& d) {
    EXPECT_EQ(d.caption, "Tallimoの設定");
    EXPECT_EQ(d[Set::txtGoal].text, "-12");
    EXPECT_EQ(d[Set::txtCnt].text, "34");
    EXPECT_TRUE(d[Set::optLap0].selected);
    EXPECT_TRUE(d[Set::optAla1].selected);
    expectAlarmFields(d, false, "", "");
    EXPECT_EQ(d[Set::txtGoal].selLength, 3);
    d.type(Set::txtCnt, "１２３");
    d.tabTo(Set::txtCnt);
    EXPECT_EQ(d[Set::txtCnt].selLength, 3);  // characters, not bytes
    d.choose(Set::optAla0);
    expectAlarmFields(d, true, "0", "0");
  });
  start(0, 0, true, false);
  settings([&](FakeForm& d) {
    EXPECT_TRUE(d[Set::optAla0].selected);
    EXPECT_TRUE(d[Set::optLap1].selected);
    expectAlarmFields(d, true, "7", "5");
    d.type(Set::txtAla0, "9");
    d.choose(Set::optAla1);
    expectAlarmFields(d, false, "", "");
    d.choose(Set::optAla0);  // the stored time again, not what was typed
    expectAlarmFields(d, true, "7", "5");
  });
}

enum Outcome { Closed, Mismatch, Overflow, NoHour, NoMinute };
constexpr bool On = true, Off = false;

TEST_F(Settings, OkAppliesInOrderAndStopsWhereItFails) {
  // Each row starts with goal 1, count 2, the report on and the alarm at 7:05
  // on or off, types and chooses, presses OK and leaves the figures as
  // `after` says.
  const struct {
    bool alarmWasOn;
    const char *goal, *count;
    bool alarm;
    const char *hour, *minute;
    bool lap;
    Outcome outcome;
    std::vector<int> after;
  } rows[] = {
      {Off, " 10 ", "－５", On, "２５", "75", Off, Closed, {10, -5, -1, 25, 75, 0, 1, 0}},
      {On, "10", "20", Off, "", "", On, Closed, {10, 20, 0, 0, 0, -1, 0, 1}},
      {On, "x", "20", On, "8", "0", Off, Mismatch, {1, 2, -1, 7, 5, -1, 1, 1}},
      {On, "10", "40000", Off, "", "", Off, Overflow, {10, 2, -1, 7, 5, -1, 1, 1}},
      {Off, "10", "20", On, "", "30", Off, NoHour, {10, 20, 0, 0, 0, -1, 0, 1}},
      {Off, "10", "20", On, "7", "", Off, NoMinute, {10, 20, 0, 0, 0, -1, 0, 1}},
      // A time that does not convert leaves every part of the alarm alone.
      {Off, "10", "20", On, "8時", "30", Off, Mismatch, {10, 20, 0, 0, 0, -1, 0, 1}},
      {On, "10", "20", On, "8", "1.5", Off, Mismatch, {10, 20, -1, 7, 5, -1, 1, 1}},
  };
  const std::string box[] = {"", "- Tallimo: " + typeMismatchError().description() + "\n",
                             "- Tallimo: " + overflowError().description() + "\n",
                             "! Tallimo: 時間が不明です\n", "! Tallimo: 時間が不明です\n"};
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    start(1, 2, row.alarmWasOn, true);
    settings([&](FakeForm& d) {
      d.type(Set::txtGoal, row.goal);
      d.type(Set::txtCnt, row.count);
      d.choose(row.alarm ? Set::optAla0 : Set::optAla1);
      d.type(Set::txtAla0, row.hour);
      d.type(Set::txtAla1, row.minute);
      d.choose(row.lap ? Set::optLap0 : Set::optLap1);
      d.click(Set::cmdReg);
      EXPECT_EQ(boxes(), box[row.outcome]);
      EXPECT_EQ(d.closed, row.outcome == Closed);
      if (row.outcome == NoHour || row.outcome == NoMinute) {
        EXPECT_EQ(d.focus, row.outcome == NoHour ? Set::txtAla0 : Set::txtAla1);
      }
      d.click(Set::cmdCan);  // keeps what a stopped OK applied
      EXPECT_TRUE(d.closed);
    });
    EXPECT_EQ(figures(), row.after);
    EXPECT_EQ(label(), std::to_string(row.after[1]));
  }
}

}  // namespace
}  // namespace tallimo
