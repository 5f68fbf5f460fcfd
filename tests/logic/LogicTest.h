#pragma once

// The fixture of the window-logic tests: an empty program folder and a main
// window that is not open yet.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/CounterState.h"
#include "core/DayRecord.h"
#include "frmMain/frmMain.h"
#include "frmSet/frmSet.h"
#include "mdlMain/mdlMain.h"
#include "tests/fake/FakePlatform.h"

namespace tallimo {

using fake::FakeForm;
using Main = frmMain;
using Set = frmSet;
inline constexpr std::int32_t kToday = 46362;  // 6 December 2026, the tests' first day

class LogicTest : public ::testing::Test {
 protected:
  CounterState& state() { return mdlPub::state; }
  FakeForm& main() { return *fake.forms.front(); }
  // The label, and what the two buttons tell a screen reader.
  std::string shown() {
    return main()[Main::lblWindow].text + "|" + main()[Main::cmdCount].description + "|" +
           main()[Main::cmdSet].description;
  }
  // Goal, count, alarm on, hour, minute, report on, and whether each timer runs.
  std::vector<int> figures() {
    const CounterState& s = mdlPub::state;
    const bool alarm = main()[Main::tmrAlarm].enabled, lap = main()[Main::tmrLap].enabled;
    return {s.goal, s.count, s.alarmOn, s.alarmHour, s.alarmMinute, s.lapOn, alarm, lap};
  }

  // The reading at hour:minute:second, `days` after the tests' first day.
  static LocalTime at(int hour, int minute, int second, int days = 0) {
    return fake::addSeconds({2026, 12, 6}, days * 86400LL + hour * 3600 + minute * 60 + second);
  }
  void tick(int hour, int minute, int second, int days = 0) {
    fake.tickAt(at(hour, minute, second, days));
  }

  void storeRecord(const DayRecord& r) {
    const auto bytes = encodeDayRecord(r);
    fake.writeFile("Cnt.arm", {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  }
  DayRecord storedRecord() {
    const std::string bytes = fake.file("Cnt.arm");
    return decodeDayRecord(std::as_bytes(std::span(bytes)));
  }

  // A fresh start at `t`: the state as at process start, a new window and
  // its load step; with a record of today, answering Yes to bring it back.
  void openAt(const LocalTime& t, std::optional<DayRecord> record = {}) {
    if (record) storeRecord(*record), fake.answers = {MsgAnswer::Yes};
    mdlPub::state = {};
    fake.clock = t;
    window.emplace(fake);
    window->open();
    if (record) fake.boxes.clear(), fake.answers.clear();  // the question may not come
  }
  // Opens the settings dialog and runs `script` while it is up.
  void settings(const std::function<void(FakeForm&)>& script) {
    fake.whileModal = script;
    main().click(Main::cmdSet);
    fake.whileModal = nullptr;
  }
  // The boxes shown since the last call.
  std::string boxes() { return std::exchange(fake.boxes, ""); }
  // The error report of a file whose flush failed.
  std::string flushFailed(std::string_view name) {
    const auto path = (fake.dir / name).string();
    return "- Tallimo: " +
           fileError(FileOp::Close, path, kErrDiskFull, "満杯です。").description() + "\n";
  }

  fake::FakePlatform fake;
  std::optional<frmMain> window;
};

}  // namespace tallimo
