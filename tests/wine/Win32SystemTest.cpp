// The Windows file, path and text services, run under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/Errors.h"
#include "platform/win32/Win32System.h"

namespace tallimo {
namespace {

namespace fs = std::filesystem;

class Win32File : public ::testing::Test {
 protected:
  void TearDown() override {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path);
  }
  std::string contents() const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void store(const std::string& bytes) const { std::ofstream(path, std::ios::binary) << bytes; }
  const fs::path path =
      fs::temp_directory_path() / ("tallimo-" + std::to_string(::GetCurrentProcessId()));
};

TEST_F(Win32File, CreatesReadsShortAndWritesTheHeadKeepingTheTail) {
  std::array<std::byte, 20> buf{};
  auto created = win32::openFile(path);
  EXPECT_EQ(created->length(), 0u);
  EXPECT_EQ(created->read(0, buf), 0u);
  created->close();
  EXPECT_TRUE(fs::exists(path));

  store("1234567");
  EXPECT_EQ(win32::openFile(path)->read(0, buf), 7u);
  EXPECT_EQ(win32::openFile(path)->read(9, buf), 0u);  // past the end reads nothing

  store(std::string(30, 'x'));
  auto file = win32::openFile(path);
  file->write(0, std::as_bytes(std::span("ABCDEFGHIJKLMNOPQRS", 20)));
  file->write(0, std::as_bytes(std::span("ab", 2)));
  file->close();
  EXPECT_EQ(contents(), std::string("abCDEFGHIJKLMNOPQRS") + '\0' + std::string(10, 'x'));
}

TEST_F(Win32File, FailuresNameTheFileAndTheReason) {
  fs::create_directory(path);
  try {
    win32::openFile(path);
    FAIL() << "opening a folder succeeded";
  } catch (const AppError& e) {
    EXPECT_EQ(e.number(), kErrPermissionDenied);
    EXPECT_NE(e.description().find(path.filename().string()), std::string::npos) << e.what();
    EXPECT_NE(e.description().find("を開けません。"), std::string::npos) << e.what();
  }
}

TEST_F(Win32File, AReadOnlyFileIsReadButNotWritten) {
  store("12345");
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  const HANDLE probe =
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    GTEST_SKIP() << "read-only files can be written here (Wine run as root)";
  }
  auto file = win32::openFile(path);
  std::array<std::byte, 20> buf{};
  EXPECT_EQ(file->read(0, buf), 5u);
  try {
    file->write(0, buf);
    FAIL() << "writing a read-only file succeeded";
  } catch (const AppError& e) {
    EXPECT_EQ(e.number(), kErrPermissionDenied);
    EXPECT_NE(e.description().find("に書き込めません。アクセスが拒否されました。"),
              std::string::npos)
        << e.what();
  }
}

// The running window of a program folder is found by this name. Links are
// tried in test_wine.py: Wine opens Unix links, not its own.
TEST_F(Win32File, AFolderHasOneCanonicalNameHoweverItIsReached) {
  fs::create_directory(path);
  const std::wstring dir = path.wstring();
  const std::wstring canonical = win32::canonicalDirectory(dir);
  std::wstring upper = dir;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  for (const std::wstring& name : {upper, dir + L"\\x\\.."})
    EXPECT_EQ(win32::canonicalDirectory(name), canonical) << fs::path(name);
  EXPECT_NE(win32::canonicalDirectory(fs::temp_directory_path().wstring()), canonical);
  EXPECT_EQ(win32::canonicalDirectory(dir + L"\\gone"), dir + L"\\gone");
}

TEST(Win32Paths, ProgramFilesSitBesideTheExecutable) {
  wchar_t exe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring dir = fs::path(exe).parent_path().wstring();
  EXPECT_EQ(win32::executableDirectory(), dir);
  EXPECT_EQ(win32::programFile("Cnt.arm").wstring(), dir + L"\\Cnt.arm");
}

TEST(Win32Text, ConvertsJapaneseBothWays) {
  const std::string text = "時間で～す！！ 𠮷";  // a character outside the BMP too
  const std::wstring wide = win32::widen(text);
  EXPECT_EQ(wide.substr(0, 3), L"時間で");
  EXPECT_EQ(wide.size(), 10u);  // the last character takes two UTF-16 units
  EXPECT_EQ(win32::narrow(wide), text);
  EXPECT_EQ(win32::widen(""), L"");
}

}  // namespace
}  // namespace tallimo
