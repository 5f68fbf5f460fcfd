#pragma once

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
