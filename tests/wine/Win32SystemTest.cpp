// The Windows backend run under Wine: files, paths and text, and the main
// window as Windows itself places and announces it.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "core/Errors.h"
#include "frmMain/frmMain.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32System.h"

namespace tallimo {
namespace {

namespace fs = std::filesystem;

class Win32File : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(path); }
  const fs::path path =
      fs::temp_directory_path() / ("tallimo-" + std::to_string(::GetCurrentProcessId()));
};

TEST_F(Win32File, CreatesReadsShortAndWritesTheHeadKeepingTheTail) {
  std::array<std::byte, 20> buf{};
  auto created = win32::openFile(path);
  EXPECT_EQ(created->length(), 0u);
  created->close();
  std::ofstream(path, std::ios::binary) << "1234567";
  EXPECT_EQ(win32::openFile(path)->read(0, buf), 7u);
  EXPECT_EQ(win32::openFile(path)->read(9, buf), 0u);  // past the end reads nothing
  std::ofstream(path, std::ios::binary) << std::string(30, 'x');
  auto file = win32::openFile(path);
  file->write(0, std::as_bytes(std::span("ABCDEFGHIJKLMNOPQRS", 20)));
  file->close();
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            std::string("ABCDEFGHIJKLMNOPQRS") + '\0' + std::string(10, 'x'));
}

// A folder cannot be opened as a file, and is known by one name however it
// is reached: the running window of a program folder is found by that name.
// (A read-only file cannot be tried here: Wine runs as root, who may write it.)
TEST_F(Win32File, AFolderIsNoFileAndHasOneCanonicalName) {
  fs::create_directory(path);
  try {
    win32::openFile(path);
    ADD_FAILURE() << "opening a folder succeeded";
  } catch (const AppError& e) {
    EXPECT_EQ(e.number(), kErrPermissionDenied);
    const std::string says = path.filename().string() + "\" を開けません。";
    EXPECT_NE(e.description().find(says), std::string::npos) << e.what();
  }
  const std::wstring dir = path.wstring(), canonical = win32::canonicalDirectory(dir);
  std::wstring upper = dir;
  ::CharUpperW(upper.data());
  for (const std::wstring& other : {upper, dir + L"\\x\\.."})
    EXPECT_EQ(win32::canonicalDirectory(other), canonical) << fs::path(other);
  EXPECT_NE(win32::canonicalDirectory(fs::temp_directory_path().wstring()), canonical);
}

TEST(Win32Paths, ProgramFilesSitBesideTheExecutableAndTextIsUtf8) {
  wchar_t exe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  EXPECT_EQ(win32::programFile("Cnt.arm").wstring(),
            fs::path(exe).parent_path().wstring() + L"\\Cnt.arm");
  const std::string text = "時間で～す！！ 𠮷";  // the last character takes two UTF-16 units
  EXPECT_EQ(win32::widen(text), L"時間で～す！！ \U00020BB7");
  EXPECT_EQ(win32::narrow(win32::widen(text)), text);
}

HWND described = nullptr;

TEST(Win32MainWindow, StaysOnScreenAnnouncesTheCountAndIsAloneInItsFolder) {
  auto platform = win32::createPlatform();
  ASSERT_TRUE(platform);
  EXPECT_FALSE(win32::createPlatform()) << "a second start from this folder went on";
  NONCLIENTMETRICSW saved{.cbSize = sizeof saved};
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof saved, &saved, 0);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  struct : FormEvents {
  } events;
  // The layout puts the client area at (3, 18), which leaves room for a small
  // caption of 15 px: an 11 px one puts the frame at (0, 4). A taller one would
  // put it above the screen, and sends it to the work area's corner instead.
  for (const int caption : {10, 30}) {  // the caption bar is one pixel more
    NONCLIENTMETRICSW metrics = saved;
    metrics.iSmCaptionHeight = caption;
    metrics.lfSmCaptionFont.lfHeight = -7;  // a caption is never lower than its font
    ::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    std::unique_ptr<Form> form;
    try {
      form = platform->createForm(frmMain::kLayout, events);
    } catch (const AppError& e) {  // Wine with neither an X server nor its null driver
      ::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof saved, &saved, 0);
      GTEST_SKIP() << "no windows here: " << e.what();
    }
    const HWND h = ::FindWindowW(nullptr, L"Form1");
    RECT frame{};
    ::GetWindowRect(h, &frame);
    EXPECT_EQ(std::pair(frame.left, frame.top),
              caption == 10 ? std::pair(0L, 4L) : std::pair(work.left, work.top));
    // A screen reader hears the count on the button that has the focus.
    const HWINEVENTHOOK hook = ::SetWinEventHook(
        EVENT_OBJECT_DESCRIPTIONCHANGE, EVENT_OBJECT_DESCRIPTIONCHANGE, nullptr,
        [](HWINEVENTHOOK, DWORD, HWND w, LONG, LONG, DWORD, DWORD) { described = w; },
        ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    form->setDescription(frmMain::cmdCount, "3件");
    for (MSG msg; ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) ::DispatchMessageW(&msg);
    ::UnhookWinEvent(hook);
    EXPECT_EQ(described, ::FindWindowExW(h, nullptr, L"Button", L"Tallimo!!"));
  }
  ::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof saved, &saved, 0);
}

}  // namespace
}  // namespace tallimo
