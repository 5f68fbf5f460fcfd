// The window half of the Linux program: Qt, the windows and their logic. The
// program loads it only once it is to open a window, so that a command for a
// window already running (`tallimo --count`) never pays for loading Qt.
#include "app/Window.h"

#include "frmMain/frmMain.h"
#include "platform/ErrorReport.h"
#include "platform/qt/QtPlatform.h"

extern "C" __attribute__((visibility("default"))) int tallimo_run_window(
    int* argc, char** argv, tallimo::posix::SingleInstance* claim, tallimo::Command command) {
  int status = 0;
  auto platform = tallimo::qt::createPlatform(
      *argc, argv, std::unique_ptr<tallimo::posix::SingleInstance>(claim), status);
  if (!platform) return status;
  tallimo::frmMain window(*platform);
  tallimo::fatalOnError(*platform, [&] { window.open(); });
  // A shortcut pressed before Tallimo was running still counts.
  if (command != tallimo::Command::Show) window.takeStep(command, window.answerStep(command));
  return platform->run(window.form());
}
