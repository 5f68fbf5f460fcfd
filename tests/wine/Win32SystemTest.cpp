// The Windows backend run under Wine: what Windows itself sees of the main
// window and the program folder, and what the backend's own loop makes of a
// few messages. Files and real input are the system scenarios'.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/DayRecord.h"
#include "core/Errors.h"
#include "frmMain/frmMain.h"
#include "frmSet/frmSet.h"
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

// A dialog or a held key that presses one of its buttons again.
Platform* boxOwner = nullptr;
bool modalWhileBox = false, boxOutlivedHeldEnter = false;

// Through the backend's own event loop: a held Enter is one press, also in a
// message box, a box holds back steps from another start, and such a step is
// one known byte with its sender's ticket and nothing else.
TEST(Win32MainWindow, KeysBoxesAndRequestsFromAnotherStart) {
  const std::wstring instance = L"tallimo-test-" + std::to_wstring(::GetCurrentProcessId());
  win32::Win32Platform platform(instance);
  struct : FormEvents {
    int counted = 0;
    std::vector<Command> taken;
    void activated(ControlId id) override { counted += id == frmMain::cmdCount; }
    void takeStep(Command command, const StepReply&) override { taken.push_back(command); }
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

  // The last is a sender that has ended: its reply slot has gone with it.
  const HWND anchor = ::FindWindowW(L"TallimoInstance", instance.c_str());
  DWORD ticket[2] = {::GetCurrentProcessId(), 0};
  COPYDATASTRUCT unknown{'X', sizeof ticket, ticket}, wide{0x100 | 'C', sizeof ticket, ticket},
      shorter{'C', 4, ticket}, bare{'C', 0, nullptr}, gone{'C', sizeof ticket, ticket};
  for (COPYDATASTRUCT* bad :
       {&unknown, &wide, &shorter, &bare, static_cast<COPYDATASTRUCT*>(nullptr), &gone})
    EXPECT_EQ(::SendMessageW(anchor, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(bad)), 0);
  EXPECT_TRUE(events.taken.empty());
}

// A read-only record, or one that another program (a backup, a virus scanner)
// holds open without sharing: the save fails with the permission error,
// changes nothing, and the retry works once the file is free.
TEST(Win32Files, ASaveTheSystemRefusesChangesNothingAndWorksOnceFree) {
  const fs::path path = fs::temp_directory_path() / "tallimo-refused.arm";
  HANDLE other = nullptr;
  const std::function<void(bool)> faults[] = {
      [&](bool on) { ::SetFileAttributesW(path.c_str(), on ? FILE_ATTRIBUTE_READONLY : 0); },
      [&](bool on) {
        if (on) other = ::CreateFileW(path.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
        if (!on) ::CloseHandle(other);
      }};
  const auto save = [&](std::byte b) { win32::openFile(path)->write(0, std::array{b}); };
  const auto saved = [&] {
    std::array<std::byte, 1> b{};
    win32::openFile(path)->read(0, b);
    return b[0];
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
    fault(false);
    EXPECT_EQ(saved(), std::byte{1});
    save(std::byte{3});
    EXPECT_EQ(saved(), std::byte{3});
  }
  fs::remove(path);
}

// The real program as a shortcut meets it: a copy in a folder of its own, its
// window started first, then one start for each step.
std::pair<DWORD, std::string> started(const fs::path& exe, const std::wstring& option) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  static int n = 0;  // a name each: Wine may close an ended start's file late
  const fs::path out = exe.parent_path() / std::to_string(++n);
  STARTUPINFOW si{.cb = sizeof si, .dwFlags = STARTF_USESTDHANDLES};
  si.hStdOutput = si.hStdError =
      ::CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_NEW, 0, 0);
  std::wstring line = L"\"" + exe.wstring() + L"\" " + option;
  PROCESS_INFORMATION pi{};
  DWORD status = 255;
  if (::CreateProcessW(nullptr, line.data(), 0, 0, TRUE, 0, 0, 0, &si, &pi)) {
    ::WaitForSingleObject(pi.hProcess, 20000);
    ::GetExitCodeProcess(pi.hProcess, &status);
  }
  ::CloseHandle(si.hStdOutput);
  std::ifstream in(out, std::ios::binary);
  return {status, std::string(std::istreambuf_iterator<char>(in), {})};
}

// The shown window of `thread` with a control `id` (IDOK: a message box).
HWND shown(DWORD thread, int id) {
  std::pair<int, HWND> seek{id, nullptr};
  for (ULONGLONG until = ::GetTickCount64() + 20000; !seek.second && ::GetTickCount64() < until;
       ::Sleep(20))
    ::EnumThreadWindows(
        thread,
        [](HWND h, LPARAM at) -> BOOL {
          auto& s = *reinterpret_cast<std::pair<int, HWND>*>(at);
          if (::IsWindowVisible(h) && ::GetDlgItem(h, s.first)) s.second = h;
          return !s.second;
        },
        reinterpret_cast<LPARAM>(&seek));
  return seek.second;
}

TEST(Win32Program, ExitStatusIsTheTruthAndKeptStepsAreNeverLost) {
  std::wstring built = win32::widen(TALLIMO_EXE);
  std::ranges::replace(built, L'/', L'\\');
  const fs::path dir = fs::temp_directory_path() / "tallimo-exe", exe = dir / "tallimo.exe";
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(L"Z:" + built, exe);
  std::wstring line = exe.wstring();
  STARTUPINFOW si{.cb = sizeof si};
  PROCESS_INFORMATION window{};
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), 0, 0, FALSE, 0, 0, 0, &si, &window));
  const auto step = [&](const wchar_t* option, DWORD status, const std::string& printed) {
    const auto [got, text] = started(exe, option);
    EXPECT_EQ(got, status) << fs::path(option);
    EXPECT_NE(text.find(printed), std::string::npos) << fs::path(option) << text;
  };
  const HWND main = shown(window.dwThreadId, win32::kFirstId + frmMain::cmdCount);
  step(L"--count", 0, "");
  // A step waits for the settings dialog, whose OK would overwrite it.
  ::PostMessageW(main, WM_COMMAND, win32::kFirstId + frmMain::cmdSet, 0);
  const HWND dialog = shown(window.dwThreadId, win32::kFirstId + frmSet::cmdCan);
  step(L"--count", 0, "");
  ::SendMessageW(::GetDlgItem(dialog, win32::kFirstId + frmSet::txtCnt), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(L"32766"));
  ::SendMessageW(dialog, WM_COMMAND, win32::kFirstId + frmSet::cmdReg, 0);
  step(L"--status", 0, "32767\n");
  // The refusal comes at once, in the window's words, before its box.
  step(L"--count", 1, overflowError().description());
  shown(window.dwThreadId, IDOK);
  step(L"--uncount", 0, "");
  // A window that does not answer in time never takes the step later.
  ::SuspendThread(window.hThread);
  step(L"--count", 1, "does not answer");
  ::ResumeThread(window.hThread);
  step(L"--status", 0, "32766\n");
  // The session's end does the waiting step before it writes the record.
  for (const UINT msg : {WM_QUERYENDSESSION, WM_ENDSESSION})
    ::SendMessageTimeoutW(main, msg, TRUE, 0, SMTO_BLOCK, 20000, nullptr);
  ::WaitForSingleObject(window.hProcess, 20000);
  std::array<std::byte, kDayRecordSize> record{};
  std::ifstream(dir / "Cnt.arm", std::ios::binary).read(reinterpret_cast<char*>(&record), 20);
  EXPECT_EQ(decodeDayRecord(record).count, 32766);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tallimo
