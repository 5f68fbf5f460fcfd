#pragma once

#include <memory>

#include "platform/Platform.h"

namespace tallimo::qt {

// Creates the Qt 6 Widgets platform, or hands `command` to the window already
// running from this program folder. Returns nullptr with `status` set to the
// exit status when the program should end at once: 0 once the running window
// took the command (for Status, its count is printed), 1 after one line on
// stderr when that failed or there is no display.
std::unique_ptr<Platform> createPlatform(int& argc, char** argv, Command command, int& status);

}  // namespace tallimo::qt
