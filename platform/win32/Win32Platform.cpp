#include "platform/win32/Win32Platform.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/InstanceName.h"
#include "platform/ErrorReport.h"
#include "platform/win32/Win32Backend.h"
#include "platform/win32/Win32System.h"

namespace tallimo::win32 {
namespace {

constexpr wchar_t kAnchorClass[] = L"TallimoInstance";
// The one request a second start sends; the anchor acts on nothing else.
constexpr UINT kComeForward = WM_APP + 1;

LRESULT CALLBACK anchorProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kComeForward) {
    if (auto* platform = reinterpret_cast<Win32Platform*>(::GetWindowLongPtrW(h, GWLP_USERDATA)))
      platform->comeForward();
    return 0;
  }
  return ::DefWindowProcW(h, msg, wp, lp);
}

// Asks the program already running from this folder to come forward and lets
// it take the foreground. It may still be starting: its anchor appears once
// its platform is up.
void handOver(const std::wstring& instance) {
  for (int tries = 0; tries < 50; ++tries) {
    if (const HWND anchor = ::FindWindowW(kAnchorClass, instance.c_str())) {
      DWORD pid = 0;
      ::GetWindowThreadProcessId(anchor, &pid);
      ::AllowSetForegroundWindow(pid);
      ::PostMessageW(anchor, kComeForward, 0, 0);
      return;
    }
    ::Sleep(100);
  }
}

// A Yes/No box is answered by Yes or No only. Windows' own box already
// ignores Escape and has no close box; others (Wine) answer them as Cancel.
LRESULT CALLBACK ignoreCancel(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
  if (msg == WM_CLOSE || (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL)) return 0;
  if (msg == WM_NCDESTROY) ::RemoveWindowSubclass(h, ignoreCancel, id);
  return ::DefSubclassProc(h, msg, wp, lp);
}

// Set around one MessageBoxW: the first top-level window it creates is the box.
HHOOK yesNoHook = nullptr;

LRESULT CALLBACK answerOnlyYesOrNo(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_CREATEWND &&
      !(reinterpret_cast<const CBT_CREATEWNDW*>(lp)->lpcs->style & WS_CHILD)) {
    ::SetWindowSubclass(reinterpret_cast<HWND>(wp), ignoreCancel, 1, 0);
    ::UnhookWindowsHookEx(std::exchange(yesNoHook, nullptr));
    return 0;
  }
  return ::CallNextHookEx(nullptr, code, wp, lp);
}

// The window of ours that takes input now: the only one shown and enabled
// (a message box over the dialog over the main window, or the question at
// start-up, before the main window shows).
BOOL CALLBACK findInputWindow(HWND h, LPARAM out) {
  if (!::IsWindowVisible(h) || !::IsWindowEnabled(h)) return TRUE;
  *reinterpret_cast<HWND*>(out) = h;
  return FALSE;
}

}  // namespace

Win32Platform::Win32Platform(const std::wstring& instance) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
  // Without the anchor the program runs as before: the main window then has
  // no owner, and a second start finds nothing to bring forward.
  const HINSTANCE module = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = anchorProc;
  cls.hInstance = module;
  cls.lpszClassName = kAnchorClass;
  ::RegisterClassExW(&cls);
  anchor_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, kAnchorClass, instance.c_str(), WS_POPUP, 0, 0, 0,
                              0, nullptr, nullptr, module, nullptr);
  if (anchor_) ::SetWindowLongPtrW(anchor_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Platform::~Win32Platform() {
  if (anchor_) ::DestroyWindow(anchor_);
}

std::unique_ptr<Form> Win32Platform::createForm(const FormSpec& spec, FormEvents& events) {
  // Owned windows have no taskbar button: dialogs are owned by the main
  // window, the main window by the anchor. Wine maps owned windows as X
  // dialogs, which window managers focus as they appear (openbox never
  // focuses a normal window that skips the taskbar), so Space counts at once.
  auto form = std::make_unique<Win32Form>(*this, spec, events, main_ ? main_->hwnd() : anchor_);
  if (!main_) main_ = form.get();
  return form;
}

void Win32Platform::formGone(const Win32Form* form) {
  if (form == main_) main_ = nullptr;
  std::erase(modal_, form);
}

LocalTime Win32Platform::now() {
  return localNow();
}

std::string Win32Platform::decimalSeparator() {
  return win32::decimalSeparator();
}

std::filesystem::path Win32Platform::programFile(std::string_view name) {
  return win32::programFile(name);
}

std::unique_ptr<BinaryFile> Win32Platform::openFile(const std::filesystem::path& path) {
  return win32::openFile(path);
}

void Win32Platform::comeForward() {
  if (main_ && main_->hwnd() && ::IsIconic(main_->hwnd())) ::ShowWindow(main_->hwnd(), SW_RESTORE);
  HWND input = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), findInputWindow, reinterpret_cast<LPARAM>(&input));
  if (input) ::SetForegroundWindow(input);
}

void Win32Platform::dispatch(MSG& msg) {
  const HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
  const bool ours =
      root && ((main_ && root == main_->hwnd()) ||
               std::ranges::any_of(modal_, [&](auto* f) { return f->hwnd() == root; }));
  if (ours && ::IsDialogMessageW(root, &msg)) return;
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

int Win32Platform::run(Form& main) {
  main_ = static_cast<Win32Form*>(&main);
  MSG msg{};
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) dispatch(msg);
  return static_cast<int>(msg.wParam);
}

MsgAnswer Win32Platform::messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                                    MsgButtons buttons) {
  HWND owner = nullptr;
  if (!modal_.empty())
    owner = modal_.back()->hwnd();
  else if (main_ && main_->hwnd() && ::IsWindowVisible(main_->hwnd()))
    owner = main_->hwnd();
  UINT flags = buttons == MsgButtons::YesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case MsgIcon::None:
      break;
    case MsgIcon::Information:
      flags |= MB_ICONINFORMATION;
      break;
    case MsgIcon::Question:
      flags |= MB_ICONQUESTION;
      break;
    case MsgIcon::Warning:
      flags |= MB_ICONEXCLAMATION;
      break;
  }
  // Without an owner (during start-up) the box must still come to the front.
  if (!owner) flags |= MB_TASKMODAL | MB_TOPMOST | MB_SETFOREGROUND;
  if (buttons == MsgButtons::YesNo)
    yesNoHook = ::SetWindowsHookExW(WH_CBT, answerOnlyYesOrNo, nullptr, ::GetCurrentThreadId());
  const int answer = ::MessageBoxW(owner, widen(text).c_str(), widen(title).c_str(), flags);
  if (yesNoHook) ::UnhookWindowsHookEx(std::exchange(yesNoHook, nullptr));
  if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
  return answer == IDYES ? MsgAnswer::Yes : MsgAnswer::No;
}

void Win32Platform::fatalError(const AppError& e) {
  std::fprintf(stderr, "tallimo: 実行時エラー '%d': %s\n", e.number(), e.what());
  std::fflush(stderr);
  const std::string text = "実行時エラー '" + std::to_string(e.number()) + "':\n\n" + e.what();
  ::MessageBoxW(nullptr, widen(text).c_str(), widen(kAppTitle).c_str(),
                MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_TOPMOST | MB_SETFOREGROUND);
  ::ExitProcess(1);
}

void Win32Platform::playWave(std::span<const std::byte> wave) noexcept {
  if (wave.empty()) return;
  try {
    // Our own copy, with zeros after it so that a header read past the end of
    // a short buffer stays inside it. The old copy may go once the new sound
    // has replaced it.
    std::vector<std::byte> copy(wave.size() + 64);
    std::ranges::copy(wave, copy.begin());
    ::sndPlaySoundA(reinterpret_cast<LPCSTR>(copy.data()), SND_ASYNC | SND_MEMORY);
    wave_ = std::move(copy);
  } catch (...) {
  }
}

void Win32Platform::endSession() {
  const int status = saveForSessionEnd(main_ ? &main_->events() : nullptr);
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(status));
}

std::unique_ptr<Platform> createPlatform() {
  const std::wstring instance =
      widen(instanceName(narrow(canonicalDirectory(executableDirectory()))));
  // Held by one process per program folder, for as long as it runs: the
  // system lets it go however the process ends, so nothing stale can block a
  // later start.
  const HANDLE claim = ::CreateMutexW(nullptr, FALSE, (L"Local\\" + instance).c_str());
  if (claim && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(claim);
    handOver(instance);
    return nullptr;
  }
  return std::make_unique<Win32Platform>(instance);
}

}  // namespace tallimo::win32
