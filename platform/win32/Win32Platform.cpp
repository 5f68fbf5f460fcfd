#include "platform/win32/Win32Platform.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
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
// How long a start waits for the running window to appear and to answer, the
// same as on Linux. The answer's truth does not depend on it: a sender that
// gives up first finds its step never done, so this only bounds how long a
// shortcut can block.
constexpr ULONGLONG kPatienceMs = 3000;
// What a sender leaves in its slot when it stops waiting: no answer is this.
constexpr LONG kGaveUp = -1;

// Names a sender's reply slot: the request carries it, nothing else.
struct Ticket {
  DWORD process;
  DWORD serial;
};

std::wstring slotName(const std::wstring& instance, const Ticket& t) {
  return L"Local\\" + instance + L".step." + std::to_wstring(t.process) + L"." +
         std::to_wstring(t.serial);
}

// One word of memory shared by a sender and the running window, 0 while the
// step is open. Whoever changes it first decides: the window with its answer,
// after which it takes the step, or the sender giving up, after which the
// window leaves the step undone.
class ReplySlot {
 public:
  explicit ReplySlot(const std::wstring& name)
      : map_(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG),
                                  name.c_str())) {
    if (map_ && ::GetLastError() != ERROR_ALREADY_EXISTS) word_ = view(map_);
  }
  ~ReplySlot() {
    if (word_) ::UnmapViewOfFile(const_cast<LONG*>(word_));
    if (map_) ::CloseHandle(map_);
  }
  ReplySlot(const ReplySlot&) = delete;
  ReplySlot& operator=(const ReplySlot&) = delete;

  bool ready() const { return word_ != nullptr; }
  // Stops waiting: the window's answer, or nothing when it had not answered.
  std::optional<std::uint32_t> close() {
    const LONG had = ::InterlockedCompareExchange(word_, kGaveUp, 0);
    if (had == 0) return std::nullopt;
    return static_cast<std::uint32_t>(had);
  }
  // The window's side: true when the answer came before the sender gave up.
  static bool answer(const std::wstring& name, std::uint32_t reply) {
    const HANDLE map = ::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str());
    if (!map) return false;  // the sender has ended
    volatile LONG* word = view(map);
    const bool first = word && ::InterlockedCompareExchange(word, static_cast<LONG>(reply), 0) == 0;
    if (word) ::UnmapViewOfFile(const_cast<LONG*>(word));
    ::CloseHandle(map);
    return first;
  }

 private:
  static volatile LONG* view(HANDLE map) {
    return static_cast<volatile LONG*>(
        ::MapViewOfFile(map, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
  }
  HANDLE map_;
  volatile LONG* word_ = nullptr;
};

// A second start's request: WM_COPYDATA with a command byte as dwData and its
// ticket as the data. Everything else that arrives here is ignored.
LRESULT CALLBACK anchorProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_COPYDATA) return ::DefWindowProcW(h, msg, wp, lp);
  auto* platform = reinterpret_cast<Win32Platform*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
  const auto* request = reinterpret_cast<const COPYDATASTRUCT*>(lp);
  if (!platform || !request || request->cbData != sizeof(Ticket) || !request->lpData ||
      request->dwData > 0x7F)
    return 0;
  const auto command = commandFromByte(static_cast<char>(request->dwData));
  if (!command) return 0;
  Ticket ticket;
  std::memcpy(&ticket, request->lpData, sizeof ticket);
  return platform->stepRequested(*command, slotName(platform->instance(), ticket));
}

// Hands `command` to the program already running from this folder and
// returns the exit status. It may still be starting: its anchor appears
// once its platform is up.
int handOver(const std::wstring& instance, Command command) {
  const std::string folder = narrow(executableDirectory());
  const ULONGLONG deadline = ::GetTickCount64() + kPatienceMs;
  HWND anchor = ::FindWindowW(kAnchorClass, instance.c_str());
  while (!anchor && ::GetTickCount64() < deadline) {
    ::Sleep(20);
    anchor = ::FindWindowW(kAnchorClass, instance.c_str());
  }
  if (!anchor) {
    printed(Stream::Err, "tallimo: the window running from " + folder + " cannot be reached\n");
    return 1;
  }
  static LONG serial = 0;
  Ticket ticket{::GetCurrentProcessId(), static_cast<DWORD>(::InterlockedIncrement(&serial))};
  ReplySlot slot(slotName(instance, ticket));
  if (!slot.ready()) {
    printed(Stream::Err,
            "tallimo: cannot wait for an answer: " + errorReason(::GetLastError()) + "\n");
    return 1;
  }
  DWORD pid = 0;
  ::GetWindowThreadProcessId(anchor, &pid);
  ::AllowSetForegroundWindow(pid);  // for Show: it may take the foreground
  COPYDATASTRUCT request{static_cast<ULONG_PTR>(command), sizeof ticket, &ticket};
  const ULONGLONG now = ::GetTickCount64();
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(anchor, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&request),
                        SMTO_ABORTIFHUNG, static_cast<UINT>(std::max(deadline, now + 100) - now),
                        &ignored);
  const auto word = slot.close();
  const auto reply = word ? decodeReply(*word) : std::nullopt;
  if (!reply) {
    printed(Stream::Err, "tallimo: the window running from " + folder + " does not answer\n");
    return 1;
  }
  const StepOutcome outcome = outcomeOf(command, *reply, folder);
  int status = outcome.status;
  if (!outcome.out.empty() && printed(Stream::Out, outcome.out) != 0) status = 1;
  if (!outcome.err.empty()) printed(Stream::Err, "tallimo: " + outcome.err + "\n");
  return status;
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

UINT boxFlags(MsgIcon icon, MsgButtons buttons) {
  const UINT shown = buttons == MsgButtons::YesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case MsgIcon::None:
      break;
    case MsgIcon::Information:
      return shown | MB_ICONINFORMATION;
    case MsgIcon::Question:
      return shown | MB_ICONQUESTION;
    case MsgIcon::Warning:
      return shown | MB_ICONEXCLAMATION;
  }
  return shown;
}

// The window of ours that takes input now: the only one shown and enabled
// (a message box over the dialog over the main window, or the question at
// start-up, before the main window shows).
BOOL CALLBACK findInputWindow(HWND h, LPARAM out) {
  if (!::IsWindowVisible(h) || !::IsWindowEnabled(h)) return TRUE;
  *reinterpret_cast<HWND*>(out) = h;
  return FALSE;
}

// A held key repeats its key-down, and a dialog (ours or a message box) makes
// every key-down of Enter a press of its button: only the first one counts.
LRESULT CALLBACK dropHeldEnter(int code, WPARAM wp, LPARAM lp) {
  const auto* msg = reinterpret_cast<const MSG*>(lp);
  constexpr LPARAM kRepeated = 1 << 30;
  if (code >= 0 && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN &&
      (msg->lParam & kRepeated))
    return TRUE;
  return ::CallNextHookEx(nullptr, code, wp, lp);
}

// A GUI program starts without streams of its own: it writes to the console
// of whoever started it, when there is one, and only once it has something
// to say, since a program attached to a console ends when the console is
// closed. Streams redirected to a file or a pipe stay where they go.
void useParentConsole() noexcept {
  // What a GUI program inherits may be nothing, or a console's handle it
  // cannot use; a redirection is a file, a pipe or a device.
  const auto missing = [](DWORD which) {
    const HANDLE h = ::GetStdHandle(which);
    return !h || h == INVALID_HANDLE_VALUE || ::GetFileType(h) == FILE_TYPE_UNKNOWN;
  };
  const bool noOut = missing(STD_OUTPUT_HANDLE), noErr = missing(STD_ERROR_HANDLE);
  if ((!noOut && !noErr) || !::AttachConsole(ATTACH_PARENT_PROCESS)) return;
  const HANDLE console =
      ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  if (noOut) {
    ::SetStdHandle(STD_OUTPUT_HANDLE, console);
    std::freopen("CONOUT$", "w", stdout);
  }
  if (noErr) {
    ::SetStdHandle(STD_ERROR_HANDLE, console);
    std::freopen("CONOUT$", "w", stderr);
  }
}

}  // namespace

Win32Platform::Win32Platform(const std::wstring& instance)
    : instance_(instance),
      heldKeys_(::SetWindowsHookExW(WH_MSGFILTER, dropHeldEnter, nullptr, ::GetCurrentThreadId())) {
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
  if (heldKeys_) ::UnhookWindowsHookEx(heldKeys_);
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

LRESULT Win32Platform::stepRequested(Command command, const std::wstring& slot) {
  StepReply reply{.kind = StepReply::Kind::Closing};
  if (main_) fatalOnError(*this, [&] { reply = main_->events().answerStep(command); });
  const std::uint32_t word = encodeReply(reply);
  if (!ReplySlot::answer(slot, word)) return 0;  // the sender gave up: leave it undone
  // Before the step, which may open a box: the sender must not wait for it.
  ::ReplyMessage(static_cast<LRESULT>(word));
  if (command == Command::Show)
    comeForward();
  else if (main_)
    fatalOnError(*this, [&] { main_->events().takeStep(command, reply); });
  return static_cast<LRESULT>(word);
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

// Four parts around one MessageBoxW, each for what Windows' box leaves out:
// - its owner: the topmost modal window of ours, else the main window once
//   shown; with none (at start-up) the box has to come forward by itself;
// - for Yes/No, the hook: Wine's box answers Escape and its close box as
//   Cancel, so they must do nothing there (Windows' own box already does so);
// - boxesOpen_: modalOpen() says a box is up, and a step from another start
//   (sent into this thread while the box waits) is kept until it is answered;
// - the FocusKeeper: the owner active again with its focus where it was,
//   which Wine does not do, unless the main window is about to go.
MsgAnswer Win32Platform::messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                                    MsgButtons buttons) {
  HWND owner = nullptr;
  if (!modal_.empty())
    owner = modal_.back()->hwnd();
  else if (main_ && main_->hwnd() && ::IsWindowVisible(main_->hwnd()))
    owner = main_->hwnd();
  const UINT flags =
      boxFlags(icon, buttons) | (owner ? 0 : MB_TASKMODAL | MB_TOPMOST | MB_SETFOREGROUND);
  const std::wstring wideText = widen(text), wideTitle = widen(title);
  if (buttons == MsgButtons::YesNo)
    yesNoHook = ::SetWindowsHookExW(WH_CBT, answerOnlyYesOrNo, nullptr, ::GetCurrentThreadId());
  const FocusKeeper had(owner);
  ++boxesOpen_;
  const int answer = ::MessageBoxW(owner, wideText.c_str(), wideTitle.c_str(), flags);
  --boxesOpen_;
  if (yesNoHook) ::UnhookWindowsHookEx(std::exchange(yesNoHook, nullptr));
  if (!main_ || !main_->closed()) had.restore();
  if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
  return answer == IDYES ? MsgAnswer::Yes : MsgAnswer::No;
}

void Win32Platform::fatalError(const AppError& e) {
  printed(Stream::Err, "tallimo: " + fatalErrorLine(e) + "\n");
  ::MessageBoxW(nullptr, widen(fatalErrorText(e)).c_str(), widen(kAppTitle).c_str(),
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

std::unique_ptr<Platform> createPlatform(Command command, int& status) {
  const std::wstring instance =
      widen(instanceName(narrow(canonicalDirectory(executableDirectory()))));
  const std::wstring claimName = L"Local\\" + instance;
  if (command == Command::Status) {
    // Only asks: a claim held for a moment would send another start to a
    // window that never comes.
    const HANDLE claim = ::OpenMutexW(SYNCHRONIZE, FALSE, claimName.c_str());
    if (!claim && ::GetLastError() != ERROR_ACCESS_DENIED) {
      printed(Stream::Err, "tallimo: no window is running from this folder\n");
      status = 1;
      return nullptr;
    }
    if (claim) ::CloseHandle(claim);
  } else {
    // Held by one process per program folder, for as long as it runs: the
    // system lets it go however the process ends, so nothing stale can block
    // a later start.
    const HANDLE claim = ::CreateMutexW(nullptr, FALSE, claimName.c_str());
    if (!claim || ::GetLastError() != ERROR_ALREADY_EXISTS)
      return std::make_unique<Win32Platform>(instance);
    ::CloseHandle(claim);
  }
  status = handOver(instance, command);
  return nullptr;
}

std::vector<std::string> arguments() {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> out;
  for (int i = 1; argv && i < count; ++i) out.push_back(narrow(argv[i]));
  if (argv) ::LocalFree(argv);
  return out;
}

int printed(Stream stream, std::string_view text) {
  static bool consoleTried = false;
  if (!std::exchange(consoleTried, true)) useParentConsole();
  const HANDLE h = ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (!h || h == INVALID_HANDLE_VALUE) return 1;
  // A console takes UTF-16 whatever its code page; a file or pipe gets UTF-8.
  DWORD mode = 0, done = 0;
  if (::GetConsoleMode(h, &mode)) {
    const std::wstring wide = widen(text);
    const auto size = static_cast<DWORD>(wide.size());
    return ::WriteConsoleW(h, wide.data(), size, &done, nullptr) && done == size ? 0 : 1;
  }
  for (std::size_t at = 0; at < text.size(); at += done) {
    const auto size = static_cast<DWORD>(std::min<std::size_t>(text.size() - at, 1u << 20));
    if (!::WriteFile(h, text.data() + at, size, &done, nullptr) || done == 0) return 1;
  }
  return 0;
}

}  // namespace tallimo::win32
