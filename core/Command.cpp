#include "core/Command.h"

#include "core/Errors.h"

namespace tallimo {

std::optional<Command> commandFromByte(char byte) noexcept {
  switch (byte) {
    case static_cast<char>(Command::Show):
    case static_cast<char>(Command::Count):
    case static_cast<char>(Command::Uncount):
    case static_cast<char>(Command::Status):
      return static_cast<Command>(byte);
    default:
      return std::nullopt;
  }
}

std::uint32_t encodeReply(const StepReply& reply) noexcept {
  return static_cast<std::uint32_t>(reply.kind) << 24 |
         static_cast<std::uint32_t>(reply.error & 0xff) << 16 |
         static_cast<std::uint16_t>(reply.count);
}

std::optional<StepReply> decodeReply(std::uint32_t word) noexcept {
  StepReply reply;
  reply.kind = static_cast<StepReply::Kind>(word >> 24);
  reply.error = static_cast<int>(word >> 16 & 0xff);
  reply.count = static_cast<std::int16_t>(word & 0xffff);
  switch (reply.kind) {
    case StepReply::Kind::Taken:
    case StepReply::Kind::Kept:
    case StepReply::Kind::Closing:
      if (reply.error == 0) return reply;
      return std::nullopt;
    case StepReply::Kind::Refused:
      if (reply.error != 0) return reply;
      return std::nullopt;
  }
  return std::nullopt;
}

StepOutcome outcomeOf(Command command, const StepReply& reply, const std::string& folder) {
  switch (reply.kind) {
    case StepReply::Kind::Taken:
    case StepReply::Kind::Kept:
      if (command == Command::Status) return {0, std::to_string(reply.count) + "\n", {}};
      return {};
    case StepReply::Kind::Closing:
      if (command == Command::Show) return {};
      return {1, {}, "the window running from " + folder + " is closing"};
    case StepReply::Kind::Refused:
      // The window's own words for the one refusal there is.
      return {1,
              {},
              reply.error == kErrOverflow ? overflowError().description()
                                          : "error " + std::to_string(reply.error)};
  }
  return {1, {}, "unknown answer"};
}

Invocation parseArguments(std::span<const std::string_view> args) {
  Invocation out;
  const auto bad = [&](std::string message) {
    return Invocation{Invocation::Bad, Command::Show,
                      "tallimo: " + message + "\nTry 'tallimo --help' for more information."};
  };
  bool commandGiven = false;
  for (const std::string_view arg : args) {
    Command command;
    if (arg == "--help") return {Invocation::Help};
    if (arg == "--version") return {Invocation::Version};
    if (arg == "--count")
      command = Command::Count;
    else if (arg == "--uncount")
      command = Command::Uncount;
    else if (arg == "--status")
      command = Command::Status;
    else if (arg.starts_with("-"))
      return bad("unrecognized option '" + std::string(arg) + "'");
    else
      return bad("unexpected argument '" + std::string(arg) + "'");
    // One step per start keeps every shortcut press one count.
    if (commandGiven) return bad("only one of --count, --uncount and --status may be given");
    commandGiven = true;
    out.command = command;
  }
  return out;
}

std::string helpText() {
  return "Usage: tallimo [OPTION]\n"
         "A tally counter that stays above all other windows.\n"
         "\n"
         "With no option, opens the counting window, or brings forward the one\n"
         "already running from the same program folder.\n"
         "\n"
         "  --count      count one up in the running window, as a click does;\n"
         "               opens the window first when none is running\n"
         "  --uncount    count one down in the running window (never below 0)\n"
         "  --status     print the running window's count; exit 1 when none runs\n"
         "  --help       display this help and exit\n"
         "  --version    output version information and exit\n"
         "\n"
         "Bind 'tallimo --count' to a key combination in your desktop's keyboard\n"
         "settings to count while you work in another program.\n"
         "\n"
         "Exit status: 0 on success, 1 on failure, 2 on a wrong command line.\n";
}

std::string versionText() {
  return "tallimo " TALLIMO_VERSION "\n";
}

}  // namespace tallimo
