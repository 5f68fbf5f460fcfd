#pragma once

// Finding and loading the window module.

#include <filesystem>
#include <string>

#include "app/Window.h"

namespace tallimo {

struct LoadedWindow {
  RunWindow run = nullptr;  // null when no module could be used
  std::string error;        // then: one line for stderr, to follow "tallimo: "
};

// Loads the module of this build from beside the program in `programDir`, or
// else from the folder its build or install put it in.
LoadedWindow loadWindow(const std::filesystem::path& programDir);

}  // namespace tallimo
