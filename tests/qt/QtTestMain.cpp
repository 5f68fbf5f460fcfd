#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "platform/qt/QtPlatform.h"
#include "tests/qt/QtFormTest.h"

namespace tallimo::qttest {
namespace {
Platform* thePlatform = nullptr;
}

Platform& platform() {
  return *thePlatform;
}

}  // namespace tallimo::qttest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // No display here: the offscreen platform must be chosen before Qt starts.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The platform owns the QApplication, so it lives for the whole run.
  std::unique_ptr<tallimo::Platform> platform = tallimo::qt::createPlatform(argc, argv);
  if (!platform) return 1;
  tallimo::qttest::thePlatform = platform.get();
  return RUN_ALL_TESTS();
}
