#pragma once

#include <memory>

#include "platform/Platform.h"

namespace tallimo::qt {

// Creates the Qt 6 Widgets platform, or returns nullptr after printing one
// line to stderr when there is no display to show a window on.
std::unique_ptr<Platform> createPlatform(int& argc, char** argv);

}  // namespace tallimo::qt
