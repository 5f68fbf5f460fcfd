#include <filesystem>

#include "core/Errors.h"
#include "tests/logic/LogicTest.h"

namespace tallimo {
namespace {

namespace fs = std::filesystem;
using MainWindow = LogicTest;

TEST_F(MainWindow, CountsAndReportsOverflow) {
  openAt(at(9, 37, 0));
  main().click(Main::cmdCount);
  main().click(Main::lblWindow);
  main().click(kFormArea);
  main().rightPress(Main::cmdSet);
  EXPECT_EQ(label(), "2");
  state().count = -5;  // as the settings dialog allows
  main().rightPress(Main::cmdCount);
  EXPECT_EQ(label(), "0");

  state().count = 32767;
  main().click(Main::cmdCount);
  EXPECT_EQ(state().count, 32767);
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
    EXPECT_EQ(label(), std::to_string(row.figures[1]));
  }
}

TEST_F(MainWindow, UnloadWritesTheRecordThenTheSummary) {
  startWith({kToday, 0, 3, -1, 7, 5, -1}, at(9, 37, 0));
  main().click(Main::cmdCount);
  main().closeBox();
  EXPECT_EQ(
      fake.fileBytes("Cnt.arm"),
      (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x00, 0x40, 0xA3, 0xE6, 0x40, 0x01, 0x00,
                                 0x03, 0x00, 0xFF, 0xFF, 0x07, 0x00, 0x05, 0x00, 0xFF, 0xFF}));
  const std::string title = "i Tallimo　……　お疲れ様でした。: ";
  EXPECT_EQ(boxes(), title + "今日は目標 3件、実績 1件（ 33.33333％）でした。\n");

  state() = {.count = 12, .goal = 0};  // no division by a zero goal
  fake.decimalPoint = ",";
  window.closeRequested();
  state() = {.count = 1, .goal = 3};
  window.closeRequested();
  EXPECT_EQ(boxes(), title + "今日は目標 0件、実績 12件（ 0％）でした。\n" + title +
                         "今日は目標 3件、実績 1件（ 33,33333％）でした。\n");

  fake.failWrites = true;
  window.closeRequested();
  EXPECT_TRUE(fileErrorShown("Cnt.arm"));
  EXPECT_EQ(boxes(), "");  // and no summary
}

TEST_F(MainWindow, FirstRunCaptionAndSavingOnTheNextTick) {
  openAt(at(9, 5, 0));
  EXPECT_TRUE(main().topmost && main().shown);
  EXPECT_EQ(main().caption, "Form1");
  main().click(Main::cmdCount);
  EXPECT_EQ(fs::file_size(fake.dir / "Cnt.arm"), 0u);  // made empty at the start
  tick(9, 5, 1);
  EXPECT_EQ(main().caption, "09:05");
  EXPECT_EQ(storedRecord(), (DayRecord{kToday, 1, 0, 0, 0, 0, 0}));
  fs::remove(fake.dir / "Cnt.arm");
  tick(9, 5, 2);
  EXPECT_FALSE(fs::exists(fake.dir / "Cnt.arm"));  // unchanged: not written again

  fake.failWrites = true;
  main().click(Main::cmdCount);
  tick(9, 5, 3);
  EXPECT_TRUE(fileErrorShown("Cnt.arm"));
  main().click(Main::cmdCount);
  tick(9, 5, 4);  // a failure goes on quietly
  fake.failWrites = false;
  main().click(Main::cmdCount);
  tick(9, 5, 5);
  EXPECT_EQ(storedRecord().count, 4);

  state().goal = 10;
  window.sessionEnding();
  EXPECT_EQ(storedRecord().goal, 10);
  EXPECT_EQ(boxes(), "");
}

}  // namespace
}  // namespace tallimo
