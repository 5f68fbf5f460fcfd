#pragma once

#include <memory>

#include "platform/Platform.h"

namespace tallimo::win32 {

// Creates the native Win32 platform: dialogs from the layout tables, message
// boxes, SetTimer ticks, sndPlaySoundA and the files beside the executable.
// When this program folder's window is already running, asks it to come
// forward instead and returns null: the program then ends with status 0.
std::unique_ptr<Platform> createPlatform();

}  // namespace tallimo::win32
