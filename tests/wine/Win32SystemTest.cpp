// The Windows backend run under Wine: what Windows itself sees of the main
// window and the program folder. Files and input are the system scenarios'.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>

#include "core/Errors.h"
#include "frmMain/frmMain.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32System.h"

namespace tallimo {
namespace {

namespace fs = std::filesystem;

// The running window of a program folder is found by the folder's name,
// so the folder must have one name however it is reached.
TEST(Win32Paths, AFolderHasOneCanonicalName) {
  const fs::path path =
      fs::temp_directory_path() / ("tallimo-" + std::to_string(::GetCurrentProcessId()));
  fs::create_directory(path);
  const std::wstring dir = path.wstring(), canonical = win32::canonicalDirectory(dir);
  std::wstring upper = dir;
  ::CharUpperW(upper.data());
  for (const std::wstring& other : {upper, dir + L"\\x\\.."})
    EXPECT_EQ(win32::canonicalDirectory(other), canonical) << fs::path(other);
  EXPECT_NE(win32::canonicalDirectory(fs::temp_directory_path().wstring()), canonical);
  fs::remove_all(path);
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
