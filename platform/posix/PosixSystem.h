#pragma once

// POSIX services shared by the Linux backends and the test fake: files, the
// local clock and the program directory. No toolkit here.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace tallimo::posix {

// Opens read-write, creating the file when missing. A file that exists but
// may not be written is opened for reading; writing it then fails with the
// reason the read-write open gave.
std::unique_ptr<BinaryFile> openFile(const std::filesystem::path& path);

LocalTime localNow();

// The real directory of the running executable, links resolved.
std::filesystem::path executableDirectory();

// The system's reason for an errno value, in Japanese where we know it.
std::string errnoReason(int err);
// The run-time error number that matches an errno value.
int errnoToErrorNumber(int err);

}  // namespace tallimo::posix
