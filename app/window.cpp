// The window half of the Linux program: Qt, the windows and their logic. The
// program loads it only once it is to open a window, so that a command for a
// window already running (`tallimo --count`) never pays for loading Qt.
#include "app/Window.h"

#include <cstdio>
#include <cstring>
#include <exception>

#include "frmMain/frmMain.h"
#include "platform/qt/QtPlatform.h"

namespace {

int runWindow(int* argc, char** argv, tallimo::posix::SingleInstance* claim,
              tallimo::Command command) {
  int status = 0;
  auto platform = tallimo::qt::createPlatform(
      *argc, argv, std::unique_ptr<tallimo::posix::SingleInstance>(claim), status);
  return platform ? tallimo::runMainWindow(*platform, command) : status;
}

// Nothing may unwind into the program: whatever the window throws ends here.
int runWindowCaught(int* argc, char** argv, tallimo::posix::SingleInstance* claim,
                    tallimo::Command command) noexcept {
  try {
    return runWindow(argc, argv, claim, command);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tallimo: %s\n", e.what());
  } catch (...) {
    std::fputs("tallimo: the window ended on an unknown error\n", stderr);
  }
  return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) RunWindow tallimo_window_entry(
    const char* buildStamp) noexcept {
  return std::strcmp(buildStamp, TALLIMO_BUILD_STAMP) == 0 ? &runWindowCaught : nullptr;
}
