#pragma once

// Windows services shared by the Win32 backend and the test fake: files, the
// local clock, the program directory and text conversion. No windows here.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace tallimo::win32 {

// Opens read-write, creating the file when missing. A file that exists but
// may not be written is opened for reading; writing it then fails with the
// reason the read-write open gave.
std::unique_ptr<BinaryFile> openFile(const std::filesystem::path& path);

LocalTime localNow();
// The user's decimal separator.
std::string decimalSeparator();

// The directory of the running executable, as GetModuleFileNameW gives it.
std::wstring executableDirectory();
// `dir` with links resolved and in the spelling the file system keeps, so
// that every way of naming one folder gives the same string; `dir` itself
// when it cannot be opened.
std::wstring canonicalDirectory(const std::wstring& dir);
// The directory string, a backslash and the name: a drive root gets a second
// separator, as it always has.
std::filesystem::path programFile(std::string_view name);

// The system's reason for a Win32 error code, in Japanese where we know it.
std::string errorReason(unsigned long code);
// The run-time error number that matches a Win32 error code.
int errorNumber(unsigned long code);

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace tallimo::win32
