// The Windows backend run under Wine: what Windows itself sees of the main
// window and the record, and what the backend's own loop makes of a few
// messages. Real input and the program folder's name are the system scenarios'.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <filesystem>
#include <functional>
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

HWND described = nullptr;

TEST(Win32MainWindow, StaysOnScreenAndAnnouncesTheCount) {
  int status = -1;
  auto platform = win32::createPlatform(Command::Show, status);
  ASSERT_TRUE(platform);
  NONCLIENTMETRICSW saved{.cbSize = sizeof saved};
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof saved, &saved, 0);
  RECT screen{}, work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
  work = {screen.left, screen.top + 40, screen.right, screen.bottom};  // a taskbar at the top
  ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, 0);
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
    // Windows need an X server or Wine's null driver, which test-windows.sh sets.
    const std::unique_ptr<Form> form = platform->createForm(frmMain::kLayout, events);
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
  ::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof saved, &saved, 0);
  ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &screen, 0);
}

// A dialog or a held key that presses one of its buttons again.
Platform* boxOwner = nullptr;
bool modalWhileBox = false, boxOutlivedHeldEnter = false;

// A held Enter does not press a message box's button again (the scenario
// rows hold keys on the window itself), a box holds back steps from another
// start, and such a step is one known byte with its sender's ticket and
// nothing else.
TEST(Win32MainWindow, KeysBoxesAndRequestsFromAnotherStart) {
  const std::wstring instance = L"tallimo-test-" + std::to_wstring(::GetCurrentProcessId());
  win32::Win32Platform platform(instance);
  struct : FormEvents {
    std::vector<Command> taken;
    void takeStep(Command command, const StepReply&) override { taken.push_back(command); }
  } events;
  const std::unique_ptr<Form> form = platform.createForm(frmMain::kLayout, events);
  boxOwner = &platform;
  ::SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    modalWhileBox = boxOwner->modalOpen();
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_RETURN, 1 | 1 << 30);
    ::SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR later, DWORD) {
      ::KillTimer(nullptr, later);
      boxOutlivedHeldEnter = true;
      ::PostMessageW(::FindWindowW(nullptr, L"box"), WM_COMMAND, IDOK, 0);
    });
  });
  platform.messageBox("", "box", MsgIcon::None, MsgButtons::Ok);
  EXPECT_TRUE(modalWhileBox);
  EXPECT_TRUE(boxOutlivedHeldEnter) << "a held Enter closed the box";
  EXPECT_FALSE(platform.modalOpen());

  // The last is a sender that has ended: its reply slot has gone with it. The
  // others' ticket leads to a slot that waits, had it been read.
  const HWND anchor = ::FindWindowW(L"TallimoInstance", instance.c_str());
  DWORD ticket[2] = {::GetCurrentProcessId(), 1}, ended[2] = {ticket[0], 0};
  const auto slot = L"Local\\" + instance + L".step." + std::to_wstring(ticket[0]) + L".1";
  ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, slot.c_str());
  COPYDATASTRUCT unknown{'X', sizeof ticket, ticket}, wide{0x100 | 'C', sizeof ticket, ticket},
      shorter{'C', 4, ticket}, bare{'C', 0, nullptr}, gone{'C', sizeof ended, ended};
  for (COPYDATASTRUCT* bad :
       {&unknown, &wide, &shorter, &bare, static_cast<COPYDATASTRUCT*>(nullptr), &gone})
    EXPECT_EQ(::SendMessageW(anchor, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(bad)), 0);
  EXPECT_TRUE(events.taken.empty());
}

// A read-only record, or one that another program (a backup, a virus scanner)
// holds open without sharing: the save fails with the permission error,
// changes nothing, and the retry works once the file is free. A read-only
// record is still read.
TEST(Win32Files, ASaveTheSystemRefusesChangesNothingAndWorksOnceFree) {
  const fs::path path = fs::temp_directory_path() / "tallimo-refused.arm";
  ::SetFileAttributesW(path.c_str(), 0);  // as a run that failed may have left it
  HANDLE other = nullptr;
  const std::function<void(bool)> faults[] = {
      [&](bool on) { ::SetFileAttributesW(path.c_str(), on ? FILE_ATTRIBUTE_READONLY : 0); },
      [&](bool on) {
        if (on) other = ::CreateFileW(path.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
        if (!on) ::CloseHandle(other);
      }};
  const auto save = [&](std::byte b) { win32::openFile(path)->write(0, std::array{b}); };
  const auto saved = [&] {  // the one byte there is, read as such
    std::array<std::byte, 2> b{};
    return win32::openFile(path)->read(0, b) == 1 ? b[0] : std::byte{9};
  };
  for (const auto& fault : faults) {
    save(std::byte{1});
    fault(true);
    EXPECT_THROW(
        try { save(std::byte{2}); } catch (const AppError& e) {
          EXPECT_EQ(e.number(), kErrPermissionDenied);
          throw;
        },
        AppError);
    EXPECT_TRUE(&fault != faults || saved() == std::byte{1});  // a read-only one still reads
    fault(false);
    EXPECT_EQ(saved(), std::byte{1});
    save(std::byte{3});
    EXPECT_EQ(saved(), std::byte{3});
  }
  fs::remove(path);
  // A reason in the system's own words comes without its line break.
  EXPECT_TRUE(win32::errorReason(ERROR_INVALID_NAME).ends_with("。"));
}

}  // namespace
}  // namespace tallimo
