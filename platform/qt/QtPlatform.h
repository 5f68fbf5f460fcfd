#pragma once

#include <memory>

#include "platform/Platform.h"

namespace tallimo::qt {

// Creates the Qt 6 Widgets platform. Returns nullptr with `status` set to
// the exit status when the program should end at once: 1 after one line on
// stderr when there is no display, 0 when the window of this program folder
// is already running and has been brought forward.
std::unique_ptr<Platform> createPlatform(int& argc, char** argv, int& status);

}  // namespace tallimo::qt
