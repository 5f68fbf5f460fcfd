#include <windows.h>

#include "frmMain/frmMain.h"
#include "platform/ErrorReport.h"
#include "platform/win32/Win32Platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  auto platform = tallimo::win32::createPlatform();
  if (!platform) return 0;  // handed over to the window already running
  tallimo::frmMain window(*platform);
  tallimo::fatalOnError(*platform, [&] { window.open(); });
  return platform->run(window.form());
}
