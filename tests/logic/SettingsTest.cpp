#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Errors.h"
#include "tests/logic/LogicTest.h"

namespace tallimo {
namespace {

using Settings = LogicTest;

const std::string kOff = "off face [] off face [] ", kAt705 = "on window [7] on window [5] ";

// Enabled, background and text of the two alarm boxes.
std::string alarmFields(const FakeForm& d) {
  std::string out;
  for (ControlId box : {Set::txtAla0, Set::txtAla1})
    out += (d[box].enabled ? "on " : "off ") +
           std::string(d[box].back == SysColor::WindowBackground ? "window [" : "face [") +
           d[box].text + "] ";
  return out;
}

enum Outcome { Closed, Mismatch, Overflow, NoTime };
constexpr bool On = true, Off = false;

TEST_F(Settings, OkAppliesInOrderAndStopsWhereItFails) {
  // Each row starts with goal 1, count 2 and the alarm at 7:05 and the
  // report both on or both off, chooses the alarm and the report, types
  // goal, count, hour and minute, presses OK, then キャンセル, and leaves the
  // figures as `after` says.
  const struct {
    bool wasOn, alarm, lap;
    const char *goal, *count, *hour, *minute;
    Outcome outcome;
    ControlId focus;
    std::vector<int> after;
  } rows[] = {
      {Off, On, On, " 10 ", "－５", "２５", "75", Closed, 0, {10, -5, -1, 25, 75, -1, 1, 1}},
      {On, Off, Off, "10", "20", "", "", Closed, 0, {10, 20, 0, 0, 0, 0, 0, 0}},
      {On, On, Off, "x", "20", "8", "0", Mismatch, 0, {1, 2, -1, 7, 5, -1, 1, 1}},
      {On, Off, Off, "10", "40000", "", "", Overflow, 0, {10, 2, -1, 7, 5, -1, 1, 1}},
      {Off, On, On, "10", "20", "", "30", NoTime, Set::txtAla0, {10, 20, 0, 0, 0, 0, 0, 0}},
      {Off, On, On, "10", "20", "7", "", NoTime, Set::txtAla1, {10, 20, 0, 0, 0, 0, 0, 0}},
      // A time that does not convert leaves every part of the alarm alone.
      {Off, On, On, "10", "20", "8時", "30", Mismatch, 0, {10, 20, 0, 0, 0, 0, 0, 0}},
      {On, On, Off, "10", "20", "8", "1.5", Mismatch, 0, {10, 20, -1, 7, 5, -1, 1, 1}},
  };
  const std::string box[] = {"", "- Tallimo: " + typeMismatchError().description() + "\n",
                             "- Tallimo: " + overflowError().description() + "\n",
                             "! Tallimo: 時間が不明です\n"};
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    const Bool16 was = row.wasOn ? kTrue : kFalse;
    openAt(at(9, 37, 0), DayRecord{kToday, 2, 1, was, 7, 5, was});
    settings([&](FakeForm& d) {
      EXPECT_TRUE(&row != rows || d.caption == "Tallimoの設定") << d.caption;  // once
      // The alarm boxes show the stored time, never what was typed before.
      EXPECT_EQ(d[Set::optLap0].selected, row.wasOn);
      EXPECT_EQ(alarmFields(d), row.wasOn ? kAt705 : kOff);
      d.setText(Set::txtAla0, "9");
      d.select(row.alarm ? Set::optAla0 : Set::optAla1);
      EXPECT_EQ(alarmFields(d), !row.alarm  ? kOff
                                : row.wasOn ? kAt705
                                            : "on window [0] on window [0] ");
      d.setText(Set::txtGoal, row.goal);
      d.setText(Set::txtCnt, row.count);
      d.setFocus(Set::txtCnt);  // typing then replaces the whole text, counted in characters
      const auto chars = std::ranges::count_if(std::string_view(row.count),
                                               [](char c) { return (c & 0xC0) != 0x80; });
      EXPECT_EQ(std::pair(d[Set::txtCnt].selStart, d[Set::txtCnt].selLength),
                std::pair(0, int(chars)));
      d.setText(Set::txtAla0, row.hour);
      d.setText(Set::txtAla1, row.minute);
      d.select(row.lap ? Set::optLap0 : Set::optLap1);
      d.focus = Set::cmdReg;
      d.click(Set::cmdReg);
      EXPECT_EQ(boxes(), box[row.outcome]);
      EXPECT_EQ(d.closed, row.outcome == Closed);
      EXPECT_EQ(d.focus, row.outcome == NoTime ? row.focus : Set::cmdReg);
      d.click(Set::cmdCan);
      EXPECT_TRUE(d.closed);
    });
    EXPECT_EQ(figures(), row.after);
    const std::string n = std::to_string(row.after[1]);
    EXPECT_EQ(shown(), n + (n == "2" ? "|1 件数える|" : "|" + n + "件|" + n + "件"));
  }
}

}  // namespace
}  // namespace tallimo
