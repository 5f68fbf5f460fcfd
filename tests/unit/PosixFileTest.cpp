// Files as the program meets them: a full disk, a size limit, a record the user
// may read but not write, a FIFO, a device that cannot flush, a stale EINTR.
// The wording is the system scenarios' to show.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "core/Errors.h"
#include "platform/posix/PosixSystem.h"

namespace tallimo::posix {
namespace {

int failure(const std::function<void()>& step) {  // the error's number, 0 for none
  try {
    step();
  } catch (const AppError& e) {
    return e.number();
  }
  return 0;
}

TEST(PosixFile, FailuresCarryTheRunTimeNumber) {
  const std::array<std::byte, 20> record{};
  EXPECT_EQ(failure([&] { openFile("/dev/full")->write(0, record); }), 61);

  // A read-only record opens all the same: it is read, and only writing fails.
  const auto dir =
      std::filesystem::temp_directory_path() / ("tallimo-ro-" + std::to_string(getpid()));
  const auto path = dir / "Cnt.arm";
  std::filesystem::create_directory(dir);
  // An EINTR left over from an interrupted call makes no call loop.
  errno = EINTR;
  EXPECT_EQ(failure([&] { openFile(path)->write(0, record); }), 0);
  std::array<std::byte, 30> back{};
  EXPECT_EQ(openFile(path)->read(0, back), 20u);
  const auto null = openFile("/dev/null");
  EXPECT_EQ(failure([&] { null->write(0, record), null->close(); }), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(failure([&] { openFile(dir / "fifo")->read(0, back); }), 75);
  std::ofstream(path) << "12345";
  ASSERT_EQ(chmod(dir.c_str(), 0755) | chmod(path.c_str(), 0444), 0);
  const auto asUser = [&] {
    const rlimit part{10, 10};  // a write the file takes only part of fails the save too
    if (setrlimit(RLIMIT_FSIZE, &part) ||
        failure([&] { openFile(dir / "p")->write(0, record); }) != 61)
      return 3;
    if (geteuid() == 0 && setuid(65534) != 0) return 2;  // root may write anything
    std::array<std::byte, 8> bytes{};
    const auto file = openFile(path);
    const bool read = file->read(0, bytes) == 5 && bytes[4] == std::byte{'5'};
    return read && failure([&] { file->write(0, bytes); }) == 70 ? 0 : 1;
  };
  EXPECT_EXIT(std::exit(asUser()), testing::ExitedWithCode(0), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tallimo::posix
