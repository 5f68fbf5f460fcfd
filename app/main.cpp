#include "frmMain/frmMain.h"
#include "platform/ErrorReport.h"
#include "platform/qt/QtPlatform.h"

int main(int argc, char** argv) {
  auto platform = tallimo::qt::createPlatform(argc, argv);
  if (!platform) return 1;
  tallimo::frmMain window(*platform);
  tallimo::fatalOnError(*platform, [&] { window.open(); });
  return platform->run(window.form());
}
