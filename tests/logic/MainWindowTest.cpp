#include <filesystem>

#include "core/Errors.h"
#include "tests/logic/LogicTest.h"

namespace tallimo {
namespace {

using MainWindow = LogicTest;

TEST_F(MainWindow, CountsShowsAndAnnouncesEveryChange) {
  openAt(at(9, 37, 0));
  EXPECT_EQ(std::filesystem::file_size(fake.dir / "Cnt.arm"), 0u);  // made, empty, at the start
  // Control, left or right button, count before, count after.
  using enum Main::Ctl;
  constexpr bool L = false, R = true;
  const struct {
    ControlId id;
    bool right;
    int from, to;
  } rows[] = {
      {cmdCount, L, 0, 1},         {lblWindow, L, 1, 2},   {kFormArea, L, 2, 3},
      {cmdSet, R, 3, 2},           {cmdCount, R, 2, 1},    {cmdCount, R, -5, 0},
      {cmdSet, R, 0, 0},           {lblWindow, L, -5, -4}, {cmdCount, L, 32766, 32767},
      {cmdCount, L, 32767, 32767},
  };
  for (const auto& r : rows) {
    state().count = static_cast<std::int16_t>(r.from);
    r.right ? main().rightPress(r.id) : main().click(r.id);
    const std::string n = std::to_string(r.to);
    EXPECT_EQ(shown(), n + "|" + n + "件|" + n + "件") << r.from;
  }
  EXPECT_EQ(boxes(), "- Tallimo: " + overflowError().description() + "\n");
}

TEST_F(MainWindow, LoadStep) {
  const std::string question = "?YN Tallimo　……　復活！！: 先ほどの件数を再表示しますか？\n";
  // The record holds count 42, goal 100, the alarm at 7:30 and the report,
  // both on or both off as `on` says.
  const struct {
    double savedOn;
    Bool16 on;
    MsgAnswer answer;
    bool asked;
    std::vector<int> figures;
  } rows[] = {
      {kToday, kTrue, MsgAnswer::Yes, true, {100, 42, -1, 7, 30, -1, 1, 1}},
      {kToday, kTrue, MsgAnswer::No, true, {0, 0, -1, 7, 30, -1, 1, 1}},
      {kToday - 1, kTrue, MsgAnswer::Yes, false, {0, 0, -1, 7, 30, -1, 1, 1}},
      {kToday + 1, kFalse, MsgAnswer::Yes, true, {100, 42, 0, 0, 0, 0, 0, 0}},  // a clock set back
      {kToday + 0.5, kFalse, MsgAnswer::Yes, false, {0, 0, 0, 0, 0, 0, 0, 0}},
      {kToday, kFalse, MsgAnswer::Yes, true, {100, 42, 0, 0, 0, 0, 0, 0}},
      {kToday, 1, MsgAnswer::Yes, true, {100, 42, 1, 0, 0, 1, 0, 0}},  // 1 is kept, not true
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.savedOn << " " << row.on);
    storeRecord({row.savedOn, 42, 100, row.on, 7, 30, row.on});
    fake.answers = {row.answer};
    openAt(at(23, 10, 0));
    EXPECT_EQ(boxes(), row.asked ? question : "");
    EXPECT_EQ(figures(), row.figures);
    // The count is shown, but announced only from its first change on.
    EXPECT_EQ(shown(), std::to_string(row.figures[1]) + "|1 件数える|");
    EXPECT_TRUE(main().topmost && main().shown);
  }
}

TEST_F(MainWindow, CloseWritesTheRecordThenShowsTheSummary) {
  openAt(at(9, 37, 0), DayRecord{kToday, 0, 3, kTrue, 7, 5, kTrue});
  fake.writeFile("Cnt.arm", fake.file("Cnt.arm") + "0123456789");  // a longer file
  main().click(Main::cmdCount);
  main().closeBox();
  EXPECT_EQ(storedRecord(), (DayRecord{kToday, 1, 3, kTrue, 7, 5, kTrue}));
  EXPECT_EQ(fake.file("Cnt.arm").substr(20), "0123456789");  // its tail left alone
  EXPECT_TRUE(boxes().starts_with("i Tallimo　……　お疲れ様でした。: "));
  // Goal, count, decimal separator, rate.
  const struct {
    std::int16_t goal, count;
    const char *separator, *rate;
  } rows[] = {{3, 1, ".", "33.33333"},
              {0, 12, ".", "0"},
              {1, 32767, ".", "3276700"},
              {3, 2, ",", "66,66666"}};
  for (const auto& r : rows) {
    state() = {.count = r.count, .goal = r.goal};
    fake.decimalPoint = r.separator;
    window->closeRequested();
    EXPECT_EQ(boxes(), "i Tallimo　……　お疲れ様でした。: 今日は目標 " + std::to_string(r.goal) +
                           "件、実績 " + std::to_string(r.count) + "件（ " + r.rate +
                           "％）でした。\n");
  }
  fake.failFlush = true;  // reported, and no summary
  window->closeRequested();
  EXPECT_EQ(boxes(), flushFailed("Cnt.arm"));
}

TEST_F(MainWindow, SavesEachChangeOnTheNextTickOnceTheLoadStepIsDone) {
  // The restore question waits past midnight: meanwhile neither a tick nor
  // the session's end may overwrite the count it offers; then the count is
  // kept, saved under the new day and reported from the new day's hour.
  fake.whileBoxShown = [&](const std::string&) {
    tick(0, 0, 3, 1);
    fake.failFlush = true;  // nothing to write: a write would fail
    EXPECT_NO_THROW(window->sessionEnding());
    fake.failFlush = false;
    EXPECT_EQ(storedRecord(), (DayRecord{kToday, 5, 9, kFalse, 0, 0, kTrue}));
  };
  openAt(at(23, 59, 58), DayRecord{kToday, 5, 9, kFalse, 0, 0, kTrue});
  fake.whileBoxShown = nullptr;
  EXPECT_EQ(main().caption, "00:00");
  tick(1, 0, 0, 1);
  EXPECT_EQ(storedRecord(), (DayRecord{kToday + 1, 5, 9, kFalse, 0, 0, kTrue}));
  EXPECT_EQ(boxes(), "i ラップ件数: 0時から1時までの件数は5件でした\n");

  std::filesystem::remove(fake.dir / "Cnt.arm");
  tick(1, 0, 1, 1);  // nothing changed: nothing written
  EXPECT_FALSE(std::filesystem::exists(fake.dir / "Cnt.arm"));
  // A failing save is reported once, leaves the file as it was and is tried
  // again on every tick, with or without a new count, until it succeeds; a
  // later failure is reported again.
  std::string reports;
  for (const bool fail : {true, true, true, false, true}) {
    fake.failFlush = fail;
    if (fail) main().click(Main::cmdCount);
    fake.tickAt(fake::addSeconds(fake.clock, 1));
    const std::string shown = boxes();
    reports += shown.empty() ? "-" : shown == flushFailed("Cnt.arm") ? "!" : shown;
    reports += std::to_string(storedRecord().count);  // a failed save leaves the file as it was
  }
  EXPECT_EQ(reports, "!0-0-0-8!8");
  fake.failFlush = false;
  state().goal = 10;
  window->sessionEnding();
  EXPECT_EQ(storedRecord(), (DayRecord{kToday + 1, 9, 10, kFalse, 0, 0, kTrue}));
  EXPECT_EQ(boxes(), "");
}

TEST_F(MainWindow, AStartTakesItsOwnStepOnceTheWindowIsOpen) {
  for (const auto& [first, count] :
       {std::pair(Command::Show, 5), {Command::Count, 6}, {Command::Uncount, 4}}) {
    state().count = 5;
    EXPECT_EQ(runMainWindow(fake, first), 0);
    EXPECT_EQ(state().count, count);
  }
}

TEST_F(MainWindow, StepsFromTheCommandLineAreAnsweredTruthfullyAndNeverLost) {
  // Each step is answered first and done only when the answer was delivered;
  // under a modal window it is kept, and done once it closes or at any end.
  std::string said;
  const auto step = [&](Command c, bool delivered = true) {
    const StepReply r = main().step(c, delivered);
    said += std::string(1, static_cast<char>(r.kind)) + std::to_string(r.count) +
            (r.error ? "e" + std::to_string(r.error) : "") + " ";
  };
  // Under the restore question the session ends: the record stays for the
  // next start to offer, with the kept steps on its count.
  fake.whileBoxShown = [&](const std::string&) {
    step(Command::Count), step(Command::Count), step(Command::Status);
    tick(9, 37, 0);
    window->sessionEnding();
    EXPECT_EQ(storedRecord(), (DayRecord{kToday, 9, 4, kTrue, 6, 30, kFalse}));
  };
  openAt(at(9, 37, 0), DayRecord{kToday, 7, 4, kTrue, 6, 30, kFalse});
  fake.whileBoxShown = nullptr;
  EXPECT_EQ(said, "K1 K2 T2 ");  // before the load step: counted from 0
  tick(9, 37, 1);
  EXPECT_EQ(state().count, 7);
  said.clear();
  settings([&](FakeForm& d) {
    step(Command::Uncount), step(Command::Count), step(Command::Count, false);
    step(Command::Status), tick(9, 37, 2);
    d.setText(Set::txtCnt, "0");
    d.click(Set::cmdReg);
  });
  tick(9, 37, 3);
  EXPECT_EQ(said, "K6 K7 K8 T7 ");  // the one not delivered is not done
  EXPECT_EQ(storedRecord().count, 1);
  said.clear();
  // A count kept while the dialog's OK sets the top stays at the top, with no
  // box at the session's end.
  settings([&](FakeForm& d) {
    step(Command::Count);
    d.setText(Set::txtCnt, "32767"), d.click(Set::cmdReg);
  });
  step(Command::Status), window->sessionEnding();
  step(Command::Count);  // refused at once, and shown as a click's overflow is
  EXPECT_EQ(boxes(), "- Tallimo: " + overflowError().description() + "\n");
  state().count = 3;
  step(Command::Uncount), step(Command::Show), step(Command::Status);
  EXPECT_EQ(said, "K2 T32767 R32767e6 T2 T2 T2 ");
  EXPECT_EQ(shown(), "2|2件|2件");

  // Kept steps are done before the record is written at every end.
  said.clear();
  settings([&](FakeForm&) {
    step(Command::Count), step(Command::Count);
    window->sessionEnding();
    EXPECT_EQ(storedRecord().count, 4);
    step(Command::Count);
    main().closeBox();  // a close box the dialog let through
  });
  step(Command::Uncount);
  EXPECT_EQ(said, "K3 K4 K5 X5 ");
  EXPECT_EQ(storedRecord().count, 5);
  EXPECT_EQ(shown(), "5|5件|5件");
  EXPECT_TRUE(boxes().ends_with("実績 5件（ 125％）でした。\n"));
}

}  // namespace
}  // namespace tallimo
