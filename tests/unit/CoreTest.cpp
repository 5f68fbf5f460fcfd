#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "core/Command.h"
#include "core/DayRecord.h"
#include "core/Errors.h"
#include "core/InstanceName.h"
#include "core/LocalTime.h"
#include "platform/FormRules.h"

namespace tallimo {
namespace {

TEST(Clock, DayNumbers) {
  const struct {
    int y, m, d, n;
  } rows[] = {
      {1899, 12, 31, 1},    {1900, 3, 1, 61},    {2000, 2, 28, 36584},
      {2000, 2, 29, 36585}, {2000, 3, 1, 36586}, {2026, 12, 6, 46362},
  };
  for (const auto& r : rows) EXPECT_EQ(dayNumber(r.y, r.m, r.d), r.n) << r.y << "-" << r.m;
}

TEST(RecordBytes, EncodeDecode) {
  const DayRecord record{46362.0, 42, 100, -1, 7, 30, -1};
  DayRecordBytes bytes;
  std::memcpy(bytes.data(), "\0\0\0\0\x40\xA3\xE6\x40*\0d\0\xFF\xFF\x07\0\x1E\0\xFF\xFF", 20);
  EXPECT_EQ(encodeDayRecord(record), bytes);
  EXPECT_EQ(decodeDayRecord(bytes), record);
  EXPECT_EQ(recordFromState({42, 100, -1, 7, 30, -1, 9, 5}, 46362), record);

  // A short file: what is missing reads as zeros.
  const DayRecord shortRead = decodeDayRecord(std::span(bytes).first(7));
  EXPECT_EQ(shortRead.savedOn, std::bit_cast<double>(std::uint64_t{0x00E6A34000000000}));
  EXPECT_EQ(shortRead, (DayRecord{shortRead.savedOn, 0, 0, 0, 0, 0, 0}));
}

TEST(Errors, NumbersAndTheFileAndReasonNamed) {
  const std::pair<AppError, int> rows[] = {
      {overflowError(), 6},
      {typeMismatchError(), 13},
      {outOfMemoryError(), 7},
      {internalError("x"), 51},
  };
  for (const auto& [error, number] : rows) EXPECT_EQ(error.number(), number);
  for (FileOp op : {FileOp::Open, FileOp::Read, FileOp::Write, FileOp::Close}) {
    const std::string text = fileError(op, "/a b", 53, "ない。").description();
    EXPECT_TRUE(text.find("\"/a b\"") != std::string::npos && text.ends_with("ない。")) << text;
  }
}

TEST(CommandLine, OneStepAStartHelpOrAClearComplaint) {
  using enum Invocation::Kind;
  const struct {
    std::vector<std::string_view> args;
    Invocation::Kind kind;
    Command command;
    const char* named;  // what a complaint names
  } rows[] = {
      {{}, Run, Command::Show, ""},
      {{"--count"}, Run, Command::Count, ""},
      {{"--uncount"}, Run, Command::Uncount, ""},
      {{"--status"}, Run, Command::Status, ""},
      {{"--count", "--help"}, Help, Command::Show, ""},
      {{"--version", "x"}, Version, Command::Show, ""},
      {{"--bogus", "--help"}, Bad, Command::Show, "'--bogus'"},
      {{"7"}, Bad, Command::Show, "'7'"},
      {{"--count", "--count"}, Bad, Command::Show, "only one of"},
  };
  for (const auto& r : rows) {
    const Invocation got = parseArguments(r.args);
    EXPECT_EQ(std::pair(got.kind, got.command), std::pair(r.kind, r.command));
    EXPECT_TRUE(*r.named ? got.message.find(r.named) != std::string::npos : got.message.empty())
        << got.message;
  }
  // Every option is explained on a line of its own.
  for (const char* option : {"--count", "--uncount", "--status", "--help", "--version"})
    EXPECT_NE(helpText().find("\n  " + std::string(option) + " "), std::string::npos) << option;
}

// A second start finds the window by its folder's name, and says what the
// window answered as it came over the wire: an answer that cannot be is none.
TEST(CommandLine, ASecondStartSaysWhatTheWindowAnswered) {
  EXPECT_EQ(instanceName("/ab"), instanceName("/ab"));
  EXPECT_NE(instanceName("/ab"), instanceName("/ba"));
  using enum StepReply::Kind;
  const std::string overflow = "1||" + overflowError().description();
  const std::tuple<Command, StepReply, std::string> rows[] = {
      {Command::Status, {Taken, -2}, "0|-2\n|"},
      {Command::Status, {Kept, 32767}, "0|32767\n|"},
      {Command::Count, {Taken, 5}, "0||"},
      {Command::Show, {Closing, 5}, "0||"},
      {Command::Count, {Closing, 5}, "1||the window running from /d is closing"},
      {Command::Count, {Refused, 32767, kErrOverflow}, overflow},
      {Command::Uncount, {Refused, 3, 61}, "1||error 61"},
      {Command::Count, {Taken, 1, 6}, "none"},
      {Command::Count, {Refused, 1, 0}, "none"},
      {Command::Count, {static_cast<StepReply::Kind>('?')}, "none"},
  };
  const auto said = [](Command command, const StepReply& reply) {
    const StepOutcome o = outcomeOf(command, reply, "/d");
    return std::to_string(o.status) + "|" + o.out + "|" + o.err;
  };
  for (const auto& [command, sent, printed] : rows) {
    const std::optional<StepReply> got = decodeReply(encodeReply(sent));
    EXPECT_EQ(got ? said(command, *got) : "none", printed);
  }
  EXPECT_EQ(said(Command::Count, {static_cast<StepReply::Kind>('?')}), "1||unknown answer");
}

// What every backend does alike when it builds a form or ends the program.
TEST(FormRules, TicksTabOrderSelectionsAndTheFatalReport) {
  EXPECT_EQ(std::pair(msUntilNextTick(0), msUntilNextTick(999)), std::pair(1010, 11));
  using enum ControlKind;
  const ControlSpec controls[] = {{.kind = Label, .tabIndex = 2},   {.kind = Timer},
                                  {.kind = Option, .tabIndex = 0},  {.kind = Button, .tabIndex = 2},
                                  {.kind = TextBox, .tabIndex = 1}, {.kind = Timer}};
  Timers timers(controls);
  timers.set(1, false);
  std::vector<ControlId> ticked;
  timers.tick([&](ControlId id) { ticked.push_back(id); });
  EXPECT_EQ(ticked, std::vector<ControlId>{5});
  EXPECT_EQ(tabOrder(controls), (std::vector<ControlId>{2, 4, 0, 3}));  // equals in table order
  EXPECT_EQ(firstFocus(controls, [](ControlId id) { return id != 2 && id != 4; }), 3);
  const std::u16string_view text = u"a\U0001F600b";  // the emoji takes two units
  for (const auto& [chars, units] : {std::pair(1, 1), {2, 3}, {3, 4}, {9, 4}})
    EXPECT_EQ(utf16Offset(text, chars), units) << chars;
  EXPECT_EQ(fatalErrorText(overflowError()), "実行時エラー '6':\n\nオーバーフローしました。");
  EXPECT_EQ(fatalErrorLine(overflowError()), "実行時エラー '6': オーバーフローしました。");
}

}  // namespace
}  // namespace tallimo
