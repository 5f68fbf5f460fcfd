#include <cstdio>
#include <string_view>
#include <vector>

#include "frmMain/frmMain.h"
#include "platform/ErrorReport.h"
#include "platform/qt/QtPlatform.h"

namespace {

// 0 when everything printed reached its destination.
int printed(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  return std::fflush(stream) == 0 && !std::ferror(stream) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  using tallimo::Command;
  using tallimo::Invocation;
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

  int status = 0;
  auto platform = tallimo::qt::createPlatform(argc, argv, call.command, status);
  if (!platform) return status;
  tallimo::frmMain window(*platform);
  tallimo::fatalOnError(*platform, [&] { window.open(); });
  // A shortcut pressed before Tallimo was running still counts.
  if (call.command != Command::Show) window.commandReceived(call.command);
  return platform->run(window.form());
}
