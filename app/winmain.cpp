#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "frmMain/frmMain.h"
#include "platform/win32/Win32Platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using tallimo::Invocation;
  using tallimo::win32::printed;
  using tallimo::win32::Stream;
  const std::vector<std::string> args = tallimo::win32::arguments();
  const std::vector<std::string_view> views(args.begin(), args.end());
  const Invocation call = tallimo::parseArguments(views);
  switch (call.kind) {
    case Invocation::Help:
      return printed(Stream::Out, tallimo::helpText());
    case Invocation::Version:
      return printed(Stream::Out, tallimo::versionText());
    case Invocation::Bad:
      printed(Stream::Err, call.message + "\n");
      return 2;
    case Invocation::Run:
      break;
  }

  int status = 0;
  auto platform = tallimo::win32::createPlatform(call.command, status);
  return platform ? tallimo::runMainWindow(*platform, call.command) : status;
}
