#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tallimo {

// What a start from the command line hands to the window already running for
// the same program folder: one byte on the single-instance channel.
enum class Command : char {
  Show = 'F',     // come forward (a plain second start)
  Count = 'C',    // one countUp, as a click
  Uncount = 'U',  // one countDown, as a right press
  Status = 'S',   // answer the count
};

// The command a channel byte stands for; nothing for any other byte.
std::optional<Command> commandFromByte(char byte) noexcept;

// What the running window answers a step. It answers before it acts, and acts
// only once the answer has reached a sender still waiting for it, so that the
// sender's exit status is the truth.
struct StepReply {
  enum class Kind : std::uint8_t {
    Taken = 'T',    // done as the answer goes out
    Kept = 'K',     // held behind a modal window, done when it closes or at any end
    Closing = 'X',  // the window is closing and will take no more steps
    Refused = 'R',  // cannot be done: `error` says why
  };
  Kind kind = Kind::Taken;
  std::int16_t count = 0;  // the count the window shows once the step is done
  int error = 0;           // with Refused: the error number

  bool operator==(const StepReply&) const = default;
};

// One 32-bit word on every channel: kind, error number, count.
std::uint32_t encodeReply(const StepReply&) noexcept;
std::optional<StepReply> decodeReply(std::uint32_t word) noexcept;

// What a start that handed `command` over prints and returns for `reply`.
struct StepOutcome {
  int status = 0;
  std::string out;  // for stdout, with its newline
  std::string err;  // for stderr after "tallimo: ", without the newline
};
StepOutcome outcomeOf(Command command, const StepReply& reply, const std::string& folder);

struct Invocation {
  enum Kind { Run, Help, Version, Bad } kind = Run;
  Command command = Command::Show;  // with Run: what to hand to a running window
  std::string message;              // with Bad: the one line to print
};

// The arguments after the program name.
Invocation parseArguments(std::span<const std::string_view> args);

std::string helpText();
std::string versionText();

}  // namespace tallimo
