#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/Errors.h"
#include "platform/posix/PosixSystem.h"

namespace tallimo {
namespace {

namespace fs = std::filesystem;

class PosixFile : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(path); }
  std::string contents() const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  const fs::path path = fs::temp_directory_path() / ("tallimo-" + std::to_string(getpid()));
};

TEST_F(PosixFile, ReadsAShortFileAndWritingTheHeadKeepsTheTail) {
  std::ofstream(path) << "1234567";
  std::array<std::byte, 20> buf{};
  EXPECT_EQ(posix::openFile(path)->read(0, buf), 7u);
  EXPECT_EQ(buf[6], std::byte{'7'});

  std::ofstream(path) << std::string(30, 'x');
  auto file = posix::openFile(path);
  file->write(0, buf);
  file->close();
  EXPECT_EQ(contents(), "1234567" + std::string(13, '\0') + std::string(10, 'x'));
}

TEST_F(PosixFile, FailuresNameTheFile) {
  fs::create_directory(path);
  try {
    posix::openFile(path);
    ADD_FAILURE() << "a directory opened as the file";
  } catch (const AppError& e) {
    EXPECT_EQ(e.number(), kErrPathAccess);
    EXPECT_NE(e.description().find(path.string()), std::string::npos) << e.description();
    EXPECT_NE(e.description().find(posix::errnoReason(EISDIR)), std::string::npos);
  }
  try {
    posix::openFile("/dev/full")->write(0, std::array<std::byte, 20>{});
    ADD_FAILURE() << "/dev/full took the write";
  } catch (const AppError& e) {
    EXPECT_EQ(e.number(), kErrDiskFull);
    EXPECT_NE(e.description().find("/dev/full"), std::string::npos) << e.description();
  }
}

}  // namespace
}  // namespace tallimo
