#pragma once

#include <stdexcept>
#include <string>

namespace tallimo {

// Run-time error numbers, kept compatible with the classic desktop runtime so
// that a report reads the same on every platform.
enum ErrorNumber : int {
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrTypeMismatch = 13,
  kErrInternal = 51,
  kErrFileNotFound = 53,
  kErrDeviceIo = 57,
  kErrDiskFull = 61,
  kErrPermissionDenied = 70,
  kErrPathAccess = 75,
};

// The one exception type of the program: a number and a Japanese description
// that the error reports show as they stand.
class AppError : public std::runtime_error {
 public:
  AppError(int number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  int number() const noexcept { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

AppError overflowError();
AppError typeMismatchError();
AppError outOfMemoryError();
AppError internalError(const std::string& detail);

// The fatal error report: the box's text ("実行時エラー 'N':", a blank line,
// the description) and the line for stderr, after "tallimo: ".
std::string fatalErrorText(const AppError& e);
std::string fatalErrorLine(const AppError& e);

enum class FileOp { Open, Read, Write, Close };
// A file failure naming the file and the system's reason.
AppError fileError(FileOp op, const std::string& path, int number, const std::string& reason);

}  // namespace tallimo
