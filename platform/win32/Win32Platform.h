#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace tallimo::win32 {

// Creates the native Win32 platform: dialogs from the layout tables, message
// boxes, SetTimer ticks, sndPlaySoundA and the files beside the executable.
// When a window is already running from this program folder, hands
// `command` to it instead; Status never starts one. Returns null with
// `status` set to the exit status when the program should end at once: what
// the running window's answer means (for Status, its count is printed), or 1
// after a line on stderr when none runs for Status or none answered in time,
// in which case it never takes the step.
std::unique_ptr<Platform> createPlatform(Command command, int& status);

// The command line's arguments after the program name, in UTF-8.
std::vector<std::string> arguments();

enum class Stream { Out, Err };
// Writes UTF-8 text, to the console of whoever started the program when it
// has no stream of its own: 0 when all of it arrived, 1 otherwise.
int printed(Stream stream, std::string_view text);

}  // namespace tallimo::win32
