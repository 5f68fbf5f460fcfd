#include "frmMain/frmMain.h"
#include "platform/ErrorReport.h"
#include "platform/qt/QtPlatform.h"

int main(int argc, char** argv) {
  int status = 0;
  auto platform = tallimo::qt::createPlatform(argc, argv, status);
  if (!platform) return status;
  tallimo::frmMain window(*platform);
  tallimo::fatalOnError(*platform, [&] { window.open(); });
  return platform->run(window.form());
}
