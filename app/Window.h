#pragma once

// What the program and its window module agree on.

#include "core/Command.h"
#include "platform/posix/SingleInstance.h"

// The module's file name.
inline constexpr char kWindowModule[] = "tallimo-window.so";

// Opens the window for the process that holds `claim` (taking it over), then
// hands it `command` (Count or Uncount; Show for none) once it has started.
// Returns the exit status; nothing is thrown out of it.
using RunWindow = int (*)(int* argc, char** argv, tallimo::posix::SingleInstance* claim,
                          tallimo::Command command) noexcept;

// The module's only exported symbol. Its own signature never changes, so a
// module from any build can be asked: it hands out its window only to a
// program built with the same `buildStamp` (the layout of what passes between
// them), and null to any other.
extern "C" RunWindow tallimo_window_entry(const char* buildStamp) noexcept;
inline constexpr char kWindowEntry[] = "tallimo_window_entry";
