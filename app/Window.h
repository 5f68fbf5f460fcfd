#pragma once

// What the program and its window module agree on.

#include "core/Command.h"
#include "platform/posix/SingleInstance.h"

// The module's file name, beside the executable.
inline constexpr char kWindowModule[] = "tallimo-window.so";

// Opens the window for the process that holds `claim` (taking it over), then
// hands it `command` (Count or Uncount; Show for none) once it has started.
// Returns the exit status.
extern "C" int tallimo_run_window(int* argc, char** argv, tallimo::posix::SingleInstance* claim,
                                  tallimo::Command command);
using RunWindow = decltype(&tallimo_run_window);
