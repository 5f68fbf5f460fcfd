#include "platform/win32/Win32Backend.h"

// What the user does to a form: clicks and presses on its controls and its
// blank area, commands, closing, and the ticks of its timers.

// clang-format off
#include <windowsx.h>
// clang-format on

#include <string>
#include <utility>

#include "platform/FormRules.h"

namespace tallimo::win32 {
namespace {

int colorIndex(SysColor c) {
  return c == SysColor::ButtonFace ? COLOR_BTNFACE : COLOR_WINDOW;
}

}  // namespace

// ---- ClickTracker ----------------------------------------------------------------

void ClickTracker::press(HWND h, UINT downMessage) {
  pressed_ = downMessage;
  ::SetCapture(h);
}

bool ClickTracker::release(HWND h, UINT upMessage, LPARAM lp) {
  const UINT down = upMessage == WM_LBUTTONUP ? WM_LBUTTONDOWN : WM_RBUTTONDOWN;
  const bool mine = std::exchange(pressed_, 0) == down;
  if (::GetCapture() == h) ::ReleaseCapture();
  RECT r{};
  ::GetClientRect(h, &r);
  return mine && ::PtInRect(&r, POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
}

void Win32Form::command(int id, int code) {
  if (id == IDOK) {
    // Enter with no default button: it activates a focused push button only.
    const HWND focus = ::GetFocus();
    for (std::size_t i = 0; i < controls_.size(); ++i)
      if (controls_[i].hwnd == focus && spec_.controls[i].kind == ControlKind::Button)
        notify([i](FormEvents& ev) { ev.activated(static_cast<ControlId>(i)); });
    return;
  }
  const ControlId ctl = id - kFirstId;
  if (ctl < 0 || ctl >= static_cast<ControlId>(controls_.size())) return;  // Escape lands here
  switch (specOf(ctl).kind) {
    case ControlKind::Button:
      if (code == BN_CLICKED) notify([ctl](FormEvents& ev) { ev.activated(ctl); });
      break;
    case ControlKind::Option:
      if (code == BN_CLICKED) {
        // A click on the option already selected changes nothing.
        const bool was = controls_[ctl].checked;
        syncOptions(specOf(ctl).container);
        if (controls_[ctl].checked && !was)
          notify([ctl](FormEvents& ev) { ev.optionSelected(ctl); });
      }
      break;
    case ControlKind::TextBox:
      if (code == EN_SETFOCUS) notify([ctl](FormEvents& ev) { ev.focusEntered(ctl); });
      break;
    default:
      break;
  }
}

INT_PTR Win32Form::dialogMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      command(LOWORD(wp), HIWORD(wp));
      return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
      const ControlId id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lp)) - kFirstId;
      if (id < 0 || id >= static_cast<ControlId>(controls_.size()) ||
          controls_[id].back == SysColor::Default)
        return FALSE;
      const int index = colorIndex(controls_[id].back);
      ::SetBkColor(reinterpret_cast<HDC>(wp), ::GetSysColor(index));
      return reinterpret_cast<INT_PTR>(::GetSysColorBrush(index));
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      clicks_.press(hwnd_, msg);
      return TRUE;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
      return TRUE;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
      if (clicks_.release(hwnd_, msg, lp)) notify([](FormEvents& ev) { ev.activated(kFormArea); });
      return TRUE;
    case WM_CAPTURECHANGED:
      clicks_.cancel();
      return TRUE;
    case WM_TIMER:
      if (wp == kTicker) tick();
      return TRUE;
    case WM_CLOSE:
      userClosed();
      return TRUE;
    case WM_QUERYENDSESSION:
      ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_ENDSESSION:
      if (wp && platform_.isMain(this)) platform_.endSession();
      return TRUE;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wp);
      // Nothing may unwind through the dialog procedure.
      fatalOnError(platform_, [this] { layout(); });
      const auto* suggested = reinterpret_cast<const RECT*>(lp);
      ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

std::optional<LRESULT> Win32Form::controlMessage(ControlId id, HWND h, UINT msg, WPARAM,
                                                 LPARAM lp) {
  if (id < 0 || id >= static_cast<ControlId>(controls_.size())) return std::nullopt;
  Control& c = controls_[id];
  switch (specOf(id).kind) {
    case ControlKind::Label:
      switch (msg) {
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
          c.clicks.press(h, msg);
          return 0;
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDBLCLK:
          return 0;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
          if (c.clicks.release(h, msg, lp)) notify([id](FormEvents& ev) { ev.activated(id); });
          return 0;
        case WM_CAPTURECHANGED:
          c.clicks.cancel();
          return 0;
      }
      break;
    case ControlKind::Button:
      // Taken here, on the press, and never passed on: no focus, no menu.
      switch (msg) {
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK:
          notify([id](FormEvents& ev) { ev.rightPressed(id); });
          return 0;
        case WM_RBUTTONUP:
          return 0;
      }
      break;
    case ControlKind::TextBox:
      // The press that brings the focus would drop the selection that
      // focusing just made; typing must replace the whole content. The edit
      // control follows the mouse only after a press it has seen itself.
      if (msg == WM_LBUTTONDOWN && ::GetFocus() != h) {
        setFocus(id);
        return 0;
      }
      break;
    default:
      break;
  }
  return std::nullopt;
}

void Win32Form::userClosed() {
  if (!::IsWindowEnabled(hwnd_)) return;  // a modal dialog or box is up over it
  closed_ = true;
  notify([](FormEvents& ev) { ev.closeRequested(); });
  if (!platform_.isMain(this)) return;  // the modal loop ends and destroys it
  destroy();
  ::PostQuitMessage(0);
}

// One wake-up for all of a form's timers. Without it the clock, the alarm and
// the report would stop without a word: that ends the program instead.
void Win32Form::startTicker(int ms) {
  if (!::SetTimer(hwnd_, kTicker, static_cast<UINT>(ms), nullptr))
    throw internalError("SetTimer " + std::to_string(::GetLastError()));
}

void Win32Form::tick() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  fatalOnError(platform_, [&] { startTicker(msUntilNextTick(t.wMilliseconds)); });
  timers_.tick([this](ControlId id) { notify([id](FormEvents& ev) { ev.timerTick(id); }); });
}

}  // namespace tallimo::win32
