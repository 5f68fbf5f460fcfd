// The Windows backend run under Wine: what Windows itself sees of the main
// window and the program folder, and what the backend's own loop makes of a
// few messages. Files and real input are the system scenarios'.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/Errors.h"
#include "frmMain/frmMain.h"
#include "platform/win32/Win32Backend.h"
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
  int status = -1;
  auto platform = win32::createPlatform(Command::Show, status);
  ASSERT_TRUE(platform);
  EXPECT_FALSE(win32::createPlatform(Command::Show, status)) << "a second start went on";
  EXPECT_EQ(status, 0);
  NONCLIENTMETRICSW saved{.cbSize = sizeof saved};
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof saved, &saved, 0);
  RECT screen{}, work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
  work = {screen.left, screen.top + 40, screen.right, screen.bottom};  // a taskbar at the top
  ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, 0);
  const auto restore = [&] {
    ::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof saved, &saved, 0);
    ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &screen, 0);
  };
  struct : FormEvents {
  } events;
  // The layout puts the client area at (3, 18) from the work area's corner,
  // which leaves room for a small caption of 15 px: an 11 px one puts the
  // frame at (0, 4). A taller one would put it above the work area, and sends
  // it to the work area's corner instead.
  for (const int caption : {10, 30}) {  // the caption bar is one pixel more
    NONCLIENTMETRICSW metrics = saved;
    metrics.iSmCaptionHeight = caption;
    metrics.lfSmCaptionFont.lfHeight = -7;  // a caption is never lower than its font
    ::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    std::unique_ptr<Form> form;
    try {
      form = platform->createForm(frmMain::kLayout, events);
    } catch (const AppError& e) {  // Wine with neither an X server nor its null driver
      restore();
      GTEST_SKIP() << "no windows here: " << e.what();
    }
    const HWND h = static_cast<win32::Win32Form&>(*form).hwnd();
    RECT frame{};
    ::GetWindowRect(h, &frame);
    EXPECT_EQ(std::pair(frame.left, frame.top),
              std::pair(work.left, work.top + (caption == 10 ? 4 : 0)));
    // The label's Japanese face, as the layout names it, and its character set.
    LOGFONTW font{};
    const HWND label = ::FindWindowExW(h, nullptr, L"Static", nullptr);
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0)), sizeof font,
                 &font);
    EXPECT_STREQ(font.lfFaceName, L"ＭＳ ゴシック");
    EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
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
  restore();
}

Platform* boxOwner = nullptr;
bool modalWhileBox = false;

// Through the backend's own event loop: a held Enter is one press, a box
// holds back steps from another start, and such a step is one known byte
// with nothing after it.
TEST(Win32MainWindow, KeysBoxesAndRequestsFromAnotherStart) {
  const std::wstring instance = L"tallimo-test-" + std::to_wstring(::GetCurrentProcessId());
  win32::Win32Platform platform(instance);
  struct : FormEvents {
    int counted = 0;
    std::vector<Command> commands;
    void activated(ControlId id) override { counted += id == frmMain::cmdCount; }
    int commandReceived(Command command) override {
      commands.push_back(command);
      return 42;
    }
  } events;
  std::unique_ptr<Form> form;
  try {
    form = platform.createForm(frmMain::kLayout, events);
  } catch (const AppError& e) {
    GTEST_SKIP() << "no windows here: " << e.what();
  }
  form->show();
  const HWND count = ::FindWindowExW(static_cast<win32::Win32Form&>(*form).hwnd(), nullptr,
                                     L"Button", L"Tallimo!!");
  for (const LPARAM repeated : {0, 1 << 30, 1 << 30})
    ::PostMessageW(count, WM_KEYDOWN, VK_RETURN, 1 | repeated);
  ::PostQuitMessage(0);
  platform.run(*form);
  EXPECT_EQ(events.counted, 1) << "a held Enter";

  boxOwner = &platform;
  ::SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    modalWhileBox = boxOwner->modalOpen();
    ::PostMessageW(::FindWindowW(nullptr, L"box"), WM_COMMAND, IDOK, 0);
  });
  platform.messageBox("", "box", MsgIcon::None, MsgButtons::Ok);
  EXPECT_TRUE(modalWhileBox);
  EXPECT_FALSE(platform.modalOpen());

  const HWND anchor = ::FindWindowW(L"TallimoInstance", instance.c_str());
  char byte = 'C';
  COPYDATASTRUCT good{'C', 0, nullptr}, unknown{'X', 0, nullptr}, wide{0x100 | 'C', 0, nullptr},
      payload{'C', 1, &byte};
  EXPECT_EQ(::SendMessageW(anchor, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&good)), 42);
  for (COPYDATASTRUCT* bad : {&unknown, &wide, &payload, static_cast<COPYDATASTRUCT*>(nullptr)})
    EXPECT_EQ(::SendMessageW(anchor, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(bad)), 0);
  EXPECT_EQ(events.commands, std::vector{Command::Count});
}

}  // namespace
}  // namespace tallimo
