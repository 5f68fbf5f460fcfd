#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/posix/SingleInstance.h"

namespace tallimo::qt {

// Creates the Qt 6 Widgets platform for the process that holds `claim` (or
// none, in tests), which then answers later starts from the same folder.
// Returns nullptr with `status` set to 1, after one line on stderr, when there
// is no display.
std::unique_ptr<Platform> createPlatform(int& argc, char** argv,
                                         std::unique_ptr<posix::SingleInstance> claim, int& status);

}  // namespace tallimo::qt
