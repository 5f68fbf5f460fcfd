// The Linux program. Commands for a window already running are handed over
// here without Qt; only a start that opens a window loads the window module.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/Module.h"
#include "platform/posix/PosixSystem.h"

namespace {

using tallimo::Command;
using tallimo::Invocation;
using Outcome = tallimo::posix::SingleInstance::Outcome;

// 0 when everything printed reached its destination.
int printed(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  return std::fflush(stream) == 0 && !std::ferror(stream) ? 0 : 1;
}

int fail(const std::string& line) {
  printed(stderr, "tallimo: " + line + "\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const Invocation call = tallimo::parseArguments(args);
  switch (call.kind) {
    case Invocation::Help:
      return printed(stdout, tallimo::helpText());
    case Invocation::Version:
      return printed(stdout, tallimo::versionText());
    case Invocation::Bad:
      printed(stderr, call.message + "\n");
      return 2;
    case Invocation::Run:
      break;
  }

  const auto folder = tallimo::posix::executableDirectory();
  auto claim = tallimo::posix::SingleInstance::claimOrSend(folder, call.command,
                                                           call.command != Command::Status);
  switch (claim.outcome) {
    case Outcome::Claimed:
      break;
    case Outcome::Answered: {
      const auto said = tallimo::outcomeOf(call.command, claim.reply, folder.string());
      if (!said.err.empty()) fail(said.err);
      const int out = said.out.empty() ? 0 : printed(stdout, said.out);
      return said.status != 0 ? said.status : out;
    }
    case Outcome::NotRunning:
      return fail("no Tallimo window is running from " + folder.string());
    case Outcome::NoAnswer:
    case Outcome::Refused:
      return fail(claim.message);
  }

  const auto window = tallimo::loadWindow(folder);
  if (!window.run) return fail(window.error);
  return window.run(&argc, argv, claim.instance.release(), call.command);
}
