#pragma once

// The fixture of the window-logic tests: an empty program directory and a
// main window that is not open yet.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
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
  FakeForm& main() { return fake.mainForm(); }
  std::string label() { return main()[Main::lblWindow].text; }
  // Goal, count, alarm on, hour, minute, report on, and whether each timer runs.
  std::vector<int> figures() {
    const CounterState& s = mdlPub::state;
    const bool alarmTimer = main().timerOn(Main::tmrAlarm), lapTimer = main().timerOn(Main::tmrLap);
    return {s.goal, s.count, s.alarmOn, s.alarmHour, s.alarmMinute, s.lapOn, alarmTimer, lapTimer};
  }

  // A reading `days` after the tests' first day.
  static LocalTime at(int hour, int minute, int second, int days = 0) {
    return fake::addSeconds({2026, 12, 6}, days * 86400LL + hour * 3600 + minute * 60 + second);
  }
  void tick(int hour, int minute, int second, int days = 0) {
    fake.tickAt(at(hour, minute, second, days));
  }

  void storeRecord(const DayRecord& r) {
    const auto bytes = encodeDayRecord(r);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    fake.writeFileBytes("Cnt.arm", {p, p + bytes.size()});
  }
  DayRecord storedRecord() {
    const auto bytes = fake.fileBytes("Cnt.arm");
    return decodeDayRecord(std::as_bytes(std::span(bytes)));
  }

  // Opens the main window at `t` as a fresh start; opening it again runs the
  // load step afresh.
  void openAt(const LocalTime& t) {
    mdlPub::state = {};
    mdlMain::chimeBuffer.clear();
    fake.clock = t;
    window.open();
  }
  // Starts from a record of today, answering Yes to bring its figures back.
  void startWith(const DayRecord& r, const LocalTime& t) {
    storeRecord(r);
    fake.answers = {MsgAnswer::Yes};
    openAt(t);
    fake.boxes.clear();
  }

  // Opens the settings dialog and runs `script` while it is up.
  void settings(const std::function<void(FakeForm&)>& script) {
    fake.whileModal = script;
    main().click(Main::cmdSet);
    fake.whileModal = nullptr;
  }

  // The boxes shown since the last call, one "<icon> title: text" line each;
  // the icon is '-' for none, 'i', '?' or '!', and Yes/No boxes add "YN".
  std::string boxes() {
    std::string out;
    for (const auto& b : fake.boxes)
      out += std::string(1, "-i?!"[static_cast<int>(b.icon)]) +
             (b.buttons == MsgButtons::YesNo ? "YN " : " ") + b.title + ": " + b.text + "\n";
    fake.boxes.clear();
    return out;
  }
  // Takes the first box shown: whether it is an error report naming `file`.
  bool fileErrorShown(const std::string& file) {
    if (fake.boxes.empty()) return false;
    const fake::ShownBox b = fake.boxes.front();
    fake.boxes.erase(fake.boxes.begin());
    return b.title == "Tallimo" && b.icon == MsgIcon::None && b.text.find(file) != b.text.npos;
  }

  fake::FakePlatform fake;
  frmMain window{fake};
};

}  // namespace tallimo
