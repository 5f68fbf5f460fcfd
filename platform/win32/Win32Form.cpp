#include "platform/win32/Win32Backend.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/ErrorReport.h"
#include "platform/FormRules.h"
#include "platform/win32/Win32System.h"

namespace tallimo::win32 {
namespace {

constexpr UINT_PTR kSubclass = 1;
constexpr int kIconId = 1;

std::wstring windowText(HWND h) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

INT_PTR CALLBACK dialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    ::SetWindowLongPtrW(h, DWLP_USER, lp);
    reinterpret_cast<Win32Form*>(lp)->attach(h);
    return FALSE;  // the dialog manager focuses the first tab stop once the form is active
  }
  auto* form = reinterpret_cast<Win32Form*>(::GetWindowLongPtrW(h, DWLP_USER));
  return form ? form->dialogMessage(msg, wp, lp) : FALSE;
}

LRESULT CALLBACK controlProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  auto* form = reinterpret_cast<Win32Form*>(ref);
  const ControlId id = ::GetDlgCtrlID(h) - kFirstId;
  if (auto result = form->controlMessage(id, h, msg, wp, lp)) return *result;
  return ::DefSubclassProc(h, msg, wp, lp);
}

HFONT createFont(const FontSpec& font, UINT dpi) {
  if (font.face.empty()) {
    // The default dialog font is the system's message font.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
  }
  return ::CreateFontW(-static_cast<int>(std::lround(font.points * dpi / 72.0)), 0, 0, 0, FW_NORMAL,
                       FALSE, FALSE, FALSE, font.japanese ? SHIFTJIS_CHARSET : DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       FIXED_PITCH | FF_MODERN, widen(font.face).c_str());
}

}  // namespace

// ---- FocusKeeper ------------------------------------------------------------------

FocusKeeper::FocusKeeper(HWND over)
    : window_(over ? ::GetAncestor(over, GA_ROOT) : nullptr), focus_(::GetFocus()) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(::GetForegroundWindow(), &pid);
  wasForeground_ = pid == ::GetCurrentProcessId();
}

void FocusKeeper::restore() const {
  if (!window_ || !::IsWindowVisible(window_) || !::IsWindowEnabled(window_)) return;
  // A box that came up while the user was in another program: Wine makes
  // the owner active again without telling the window manager, which gives
  // the focus back to that program. It does focus a window that shows anew.
  static const bool wine =
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  if (wine && !wasForeground_) {
    ::ShowWindow(window_, SW_HIDE);
    ::ShowWindow(window_, SW_SHOW);
  }
  ::SetForegroundWindow(window_);
  if (::IsChild(window_, focus_) && ::IsWindowEnabled(focus_))
    ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus_), TRUE);
}

// ---- Win32Form ------------------------------------------------------------------

Win32Form::Win32Form(Win32Platform& platform, const FormSpec& spec, FormEvents& events, HWND owner)
    : platform_(platform),
      spec_(spec),
      events_(events),
      controls_(spec.controls.size()),
      timers_(spec.controls) {
  style_ = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  exStyle_ = spec.kind == FormKind::ToolWindow ? WS_EX_TOOLWINDOW : 0;
  // An empty in-memory template: the controls follow from the layout table.
  struct alignas(4) Template {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title;
  } tpl{};
  tpl.dialog.style = style_;
  tpl.dialog.dwExtendedStyle = exStyle_;
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  ::CreateDialogIndirectParamW(instance, &tpl.dialog, owner, dialogProc,
                               reinterpret_cast<LPARAM>(this));
  if (!hwnd_) throw internalError("CreateDialogIndirectParamW " + std::to_string(::GetLastError()));
  dpi_ = ::GetDpiForWindow(hwnd_);
  setCaption(spec.caption);
  for (int size : {ICON_BIG, ICON_SMALL}) {
    const int edge = ::GetSystemMetrics(size == ICON_BIG ? SM_CXICON : SM_CXSMICON);
    const HANDLE icon =
        ::LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, edge, edge, LR_SHARED);
    ::SendMessageW(hwnd_, WM_SETICON, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(icon));
  }
  createControls();
  nameControls();
  layout();
  if (spec.placed) placeClientAt(px(spec.clientLeft), px(spec.clientTop));
  if (std::ranges::any_of(spec.controls, [](auto& c) { return c.kind == ControlKind::Timer; }))
    startTicker(kTickPeriodMs);
}

Win32Form::~Win32Form() {
  platform_.formGone(this);
  destroy();
  for (HFONT font : fonts_) ::DeleteObject(font);
}

void Win32Form::destroy() {
  const HWND h = std::exchange(hwnd_, nullptr);
  if (!h) return;
  platform_.access().forget(h);
  for (const Control& c : controls_)
    if (c.hwnd) platform_.access().forget(c.hwnd);
  ::DestroyWindow(h);
}

void Win32Form::setCaption(std::string_view text) {
  ::SetWindowTextW(hwnd_, widen(text).c_str());
}

void Win32Form::setText(ControlId id, std::string_view text) {
  ::SetWindowTextW(handle(id), widen(text).c_str());
}

std::string Win32Form::text(ControlId id) const {
  return narrow(windowText(handle(id)));
}

void Win32Form::setDescription(ControlId id, std::string_view text) {
  platform_.access().setDescription(handle(id), text, true);
}

void Win32Form::setBackColor(ControlId id, SysColor color) {
  controls_.at(id).back = color;
  ::InvalidateRect(handle(id), nullptr, TRUE);
}

void Win32Form::setFocus(ControlId id) {
  ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(handle(id)), TRUE);
}

bool Win32Form::isSelected(ControlId id) const {
  return ::SendMessageW(handle(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Form::makeTopmost() {
  ::SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

// Controls are created in tab order: the dialog manager tabs through them and
// groups option buttons in creation order. Each option pair starts a group
// and whatever follows it starts the next one.
void Win32Form::createControls() {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const ControlSpec* previous = nullptr;
  for (ControlId id : tabOrder(spec_.controls)) {
    const ControlSpec& c = specOf(id);
    const wchar_t* cls = L"BUTTON";
    DWORD style = WS_CHILD | WS_VISIBLE | (c.enabled ? 0 : WS_DISABLED);
    DWORD ex = 0;
    switch (c.kind) {
      case ControlKind::Label:
        cls = L"STATIC";
        style |= SS_NOTIFY | SS_NOPREFIX | (c.border ? WS_BORDER : 0) |
                 (c.align == Align::Right ? SS_RIGHT : SS_LEFT);
        break;
      case ControlKind::Button:
        style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
      case ControlKind::TextBox:
        cls = L"EDIT";
        style |= ES_AUTOHSCROLL | WS_TABSTOP | (c.align == Align::Right ? ES_RIGHT : ES_LEFT);
        ex = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::Option:
        style |= BS_AUTORADIOBUTTON;
        break;
      case ControlKind::Frame:
        style |= BS_GROUPBOX;
        break;
      case ControlKind::Timer:
        continue;
    }
    const bool continuesGroup = c.kind == ControlKind::Option && previous &&
                                previous->kind == ControlKind::Option &&
                                previous->container == c.container;
    if (!continuesGroup) style |= WS_GROUP;
    previous = &c;

    HWND h = ::CreateWindowExW(ex, cls, widen(c.text).c_str(), style, 0, 0, 0, 0, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + id)),
                               instance, nullptr);
    if (!h) throw internalError("CreateWindowExW " + std::to_string(::GetLastError()));
    if (c.kind == ControlKind::TextBox) ::SendMessageW(h, EM_SETLIMITTEXT, 0, 0);  // no limit
    ::SetWindowSubclass(h, controlProc, kSubclass, reinterpret_cast<DWORD_PTR>(this));
    controls_[id].hwnd = h;
    controls_[id].back = c.back;
  }
}

// The names and descriptions from the table. A name that is the caption is
// left to the system, which names a control after its caption anyway.
void Win32Form::nameControls() {
  Accessibility& access = platform_.access();
  if (!spec_.accName.empty()) access.setName(hwnd_, spec_.accName);
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    const ControlSpec& c = spec_.controls[i];
    if (!controls_[i].hwnd) continue;
    if (!c.accName.empty() && c.accName != c.text) access.setName(controls_[i].hwnd, c.accName);
    if (!c.accDescription.empty())
      access.setDescription(controls_[i].hwnd, c.accDescription, false);
  }
}

// The layout's corner is the primary monitor's work area's, so that a
// taskbar at the top does not cover the window. The client area goes where
// the layout puts it, which assumes a 15 px small caption; a taller caption
// would push the frame, and its close box, out of the work area: the frame
// then goes to its top-left corner.
void Win32Form::placeClientAt(int left, int top) {
  RECT work{};  // the primary monitor's
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT frame{work.left + left, work.top + top, work.left + left, work.top + top};
  ::AdjustWindowRectExForDpi(&frame, style_, FALSE, exStyle_, dpi_);
  if (frame.left < work.left || frame.top < work.top) frame = work;
  ::SetWindowPos(hwnd_, nullptr, frame.left, frame.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Positions, sizes and fonts at the window's DPI; run again when it changes.
void Win32Form::layout() {
  std::vector<HFONT> old = std::exchange(fonts_, {});
  const HFONT dialogFont = fonts_.emplace_back(createFont({}, dpi_));
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    const ControlSpec& c = spec_.controls[i];
    if (!controls_[i].hwnd) continue;
    int left = c.left, top = c.top;
    for (int up = c.container; up >= 0; up = spec_.controls[up].container) {
      left += spec_.controls[up].left;
      top += spec_.controls[up].top;
    }
    ::SetWindowPos(controls_[i].hwnd, nullptr, px(left), px(top), px(c.width), px(c.height),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    const HFONT font =
        c.font.face.empty() ? dialogFont : fonts_.emplace_back(createFont(c.font, dpi_));
    ::SendMessageW(controls_[i].hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  for (HFONT font : old) ::DeleteObject(font);

  RECT r{0, 0, px(spec_.clientWidth), px(spec_.clientHeight)};
  ::AdjustWindowRectExForDpi(&r, style_, FALSE, exStyle_, dpi_);
  ::SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Form::setEnabled(ControlId id, bool on) {
  Control& c = controls_.at(id);
  if (c.hwnd)
    ::EnableWindow(c.hwnd, on);
  else
    timers_.set(id, on);
}

void Win32Form::setSelection(ControlId id, int start, int length) {
  const std::wstring text = windowText(handle(id));
  ::SendMessageW(handle(id), EM_SETSEL, static_cast<WPARAM>(utf16Offset<wchar_t>(text, start)),
                 static_cast<LPARAM>(utf16Offset<wchar_t>(text, start + length)));
}

void Win32Form::select(ControlId id) {
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    const ControlSpec& c = spec_.controls[i];
    if (c.kind == ControlKind::Option && c.container == specOf(id).container)
      ::SendMessageW(controls_[i].hwnd, BM_SETCHECK,
                     static_cast<ControlId>(i) == id ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  syncOptions(specOf(id).container);
  notify([id](FormEvents& ev) { ev.optionSelected(id); });
}

// Remembers which option of a frame is selected and makes it the pair's one
// tab stop.
void Win32Form::syncOptions(int container) {
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    const ControlSpec& c = spec_.controls[i];
    if (c.kind != ControlKind::Option || c.container != container) continue;
    Control& option = controls_[i];
    option.checked = isSelected(static_cast<ControlId>(i));
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(option.hwnd, GWL_STYLE));
    ::SetWindowLongPtrW(option.hwnd, GWL_STYLE,
                        option.checked ? style | WS_TABSTOP : style & ~DWORD{WS_TABSTOP});
  }
}

void Win32Form::show() {
  ::ShowWindow(hwnd_, SW_SHOW);
  ::SetForegroundWindow(hwnd_);
}

// Centred over the owner, kept inside the owner's monitor.
void Win32Form::placeOver(HWND owner) {
  RECT o{}, me{};
  ::GetWindowRect(owner, &o);
  ::GetWindowRect(hwnd_, &me);
  const LONG w = me.right - me.left, h = me.bottom - me.top;
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &mi);
  const RECT& work = mi.rcWork;
  const LONG x =
      std::clamp((o.left + o.right - w) / 2, work.left, std::max(work.left, work.right - w));
  const LONG y =
      std::clamp((o.top + o.bottom - h) / 2, work.top, std::max(work.top, work.bottom - h));
  ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Form::showModal(Form& owner) {
  const HWND ownerHwnd = static_cast<Win32Form&>(owner).hwnd();
  placeOver(ownerHwnd);
  const FocusKeeper had(ownerHwnd);
  platform_.pushModal(this);
  ::EnableWindow(ownerHwnd, FALSE);
  ::ShowWindow(hwnd_, SW_SHOW);
  MSG msg{};
  while (!closed_) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the outer loop
    if (got <= 0) break;
    platform_.dispatch(msg);
  }
  // The owner is enabled first so that it, not another program, becomes active.
  ::EnableWindow(ownerHwnd, TRUE);
  platform_.popModal();
  destroy();
  had.restore();
}

// The program closes the settings dialog alone, always shown modally: its loop
// ends, and the window goes once the owner is enabled again.
void Win32Form::close() {
  closed_ = true;
}

}  // namespace tallimo::win32
