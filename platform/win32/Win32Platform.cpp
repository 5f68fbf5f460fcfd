#include "platform/win32/Win32Platform.h"

// clang-format off
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ErrorReport.h"
#include "platform/win32/Win32System.h"

namespace tallimo::win32 {
namespace {

constexpr UINT_PTR kTicker = 1;
constexpr UINT_PTR kSubclass = 1;
constexpr int kIconId = 1;
// Control ids start above IDOK and IDCANCEL, which Enter and Escape send.
constexpr int kFirstId = 100;

int colorIndex(SysColor c) {
  return c == SysColor::ButtonFace ? COLOR_BTNFACE : COLOR_WINDOW;
}

// Where a code-point offset into `text` falls in UTF-16 units.
int utf16Offset(const std::wstring& text, int codePoints) {
  std::size_t units = 0;
  for (int i = 0; i < codePoints && units < text.size(); ++i)
    units += (text[units] >= 0xD800 && text[units] <= 0xDBFF) ? 2 : 1;
  return static_cast<int>(std::min(units, text.size()));
}

std::wstring windowText(HWND h) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A press and release of the left or right button over a label or the blank
// area is one activation. The second press of a quick double press arrives
// as a double-click, which has no handler, so it counts once.
class ClickTracker {
 public:
  void press(HWND h, UINT downMessage) {
    pressed_ = downMessage;
    ::SetCapture(h);
  }
  void doubleClick() { pressed_ = 0; }
  void cancel() { pressed_ = 0; }
  bool release(HWND h, UINT upMessage, LPARAM lp) {
    const UINT down = upMessage == WM_LBUTTONUP ? WM_LBUTTONDOWN : WM_RBUTTONDOWN;
    const bool mine = std::exchange(pressed_, 0) == down;
    if (::GetCapture() == h) ::ReleaseCapture();
    RECT r{};
    ::GetClientRect(h, &r);
    return mine && ::PtInRect(&r, POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
  }

 private:
  UINT pressed_ = 0;
};

class Win32Platform;

// A live form: a modeless dialog (so that the dialog manager gives Tab, the
// arrow keys within option groups and Space on buttons), its controls as
// direct children ordered by tab index, and one ticker for all its timers.
class Win32Form final : public Form {
 public:
  Win32Form(Win32Platform& platform, const FormSpec& spec, FormEvents& events, HWND owner);
  ~Win32Form() override;

  void setCaption(std::string_view text) override { ::SetWindowTextW(hwnd_, widen(text).c_str()); }
  void setText(ControlId id, std::string_view text) override {
    ::SetWindowTextW(handle(id), widen(text).c_str());
  }
  std::string text(ControlId id) const override { return narrow(windowText(handle(id))); }
  void setDescription(ControlId, std::string_view) override {}
  void setEnabled(ControlId id, bool on) override;
  void setBackColor(ControlId id, SysColor color) override {
    controls_.at(id).back = color;
    ::InvalidateRect(handle(id), nullptr, TRUE);
  }
  void setSelection(ControlId id, int start, int length) override;
  void setFocus(ControlId id) override {
    ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(handle(id)), TRUE);
  }
  void select(ControlId id) override;
  bool isSelected(ControlId id) const override {
    return ::SendMessageW(handle(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  void makeTopmost() override {
    ::SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  }
  void show() override;
  void showModal(Form& owner) override;
  void close() override;

  HWND hwnd() const { return hwnd_; }
  FormEvents& events() { return events_; }
  void attach(HWND hwnd) { hwnd_ = hwnd; }
  INT_PTR dialogMessage(UINT msg, WPARAM wp, LPARAM lp);
  std::optional<LRESULT> controlMessage(ControlId id, HWND h, UINT msg, WPARAM wp, LPARAM lp);

 private:
  struct Control {
    HWND hwnd = nullptr;
    SysColor back = SysColor::Default;
    bool checked = false;
    bool timerOn = false;
    bool swallowing = false;  // the mouse press that focused a text box
    ClickTracker clicks;
  };

  HWND handle(ControlId id) const { return controls_.at(id).hwnd; }
  const ControlSpec& specOf(ControlId id) const { return spec_.controls[id]; }
  int px(int twips) const { return ::MulDiv(twips, static_cast<int>(dpi_), 1440); }
  void createControls();
  void layout();
  void command(int id, int code);
  void syncOptions(int container);
  void focusFirst();
  void placeOver(HWND owner);
  void userClosed();
  void tick();
  template <typename F>
  void notify(F&& f);

  Win32Platform& platform_;
  const FormSpec& spec_;
  FormEvents& events_;
  HWND hwnd_ = nullptr;
  DWORD style_ = 0, exStyle_ = 0;
  UINT dpi_ = 96;
  std::vector<Control> controls_;
  std::vector<HFONT> fonts_;
  ClickTracker clicks_;
  bool modal_ = false;
  bool closed_ = false;
};

class Win32Platform final : public Platform {
 public:
  Win32Platform();
  ~Win32Platform() override = default;

  std::unique_ptr<Form> createForm(const FormSpec& spec, FormEvents& events) override {
    // Dialogs are owned by the main window from the start: no taskbar entry.
    auto form = std::make_unique<Win32Form>(*this, spec, events, main_ ? main_->hwnd() : nullptr);
    if (!main_) main_ = form.get();
    return form;
  }
  int run(Form& main) override;
  MsgAnswer messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                       MsgButtons buttons) override;
  [[noreturn]] void fatalError(const AppError& e) override;
  LocalTime now() override { return localNow(); }
  std::string decimalSeparator() override { return win32::decimalSeparator(); }
  std::filesystem::path programFile(std::string_view name) override {
    return win32::programFile(name);
  }
  std::unique_ptr<BinaryFile> openFile(const std::filesystem::path& path) override {
    return win32::openFile(path);
  }
  void playWave(std::span<const std::byte> wave) noexcept override;

  bool isMain(const Win32Form* form) const { return form == main_; }
  void formGone(const Win32Form* form) {
    if (form == main_) main_ = nullptr;
    std::erase(modal_, form);
  }
  void pushModal(Win32Form* form) { modal_.push_back(form); }
  void popModal() { modal_.pop_back(); }
  void dispatch(MSG& msg);
  [[noreturn]] void endSession();

 private:
  Win32Form* main_ = nullptr;
  std::vector<Win32Form*> modal_;
  std::vector<std::byte> wave_;
};

INT_PTR CALLBACK dialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    ::SetWindowLongPtrW(h, DWLP_USER, lp);
    reinterpret_cast<Win32Form*>(lp)->attach(h);
    return FALSE;  // the focus is set when the form is shown
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
  LOGFONTW lf{};
  if (font.face.empty()) {
    // The default dialog font is the system's message font.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    lf = metrics.lfMessageFont;
  } else {
    lf.lfHeight = -static_cast<LONG>(std::lround(font.points * dpi / 72.0));
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = font.japanese ? SHIFTJIS_CHARSET : DEFAULT_CHARSET;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    std::wcsncpy(lf.lfFaceName, widen(font.face).c_str(), LF_FACESIZE - 1);
  }
  return ::CreateFontIndirectW(&lf);
}

// ---- Win32Form ------------------------------------------------------------------

Win32Form::Win32Form(Win32Platform& platform, const FormSpec& spec, FormEvents& events, HWND owner)
    : platform_(platform), spec_(spec), events_(events), controls_(spec.controls.size()) {
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
  layout();
  if (spec.placed) {
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectExForDpi(&frame, style_, FALSE, exStyle_, dpi_);
    ::SetWindowPos(hwnd_, nullptr, px(spec.clientLeft) + frame.left, px(spec.clientTop) + frame.top,
                   0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (std::size_t i = 0; i < controls_.size(); ++i)
    controls_[i].timerOn = spec.controls[i].kind == ControlKind::Timer && spec.controls[i].enabled;
  if (std::ranges::any_of(spec.controls, [](auto& c) { return c.kind == ControlKind::Timer; }))
    ::SetTimer(hwnd_, kTicker, 1000, nullptr);
}

Win32Form::~Win32Form() {
  platform_.formGone(this);
  if (hwnd_) ::DestroyWindow(hwnd_);
  for (HFONT font : fonts_) ::DeleteObject(font);
}

// Controls are created in tab order: the dialog manager tabs through them and
// groups option buttons in creation order. Each option pair starts a group
// and whatever follows it starts the next one.
void Win32Form::createControls() {
  std::vector<ControlId> order;
  for (std::size_t i = 0; i < controls_.size(); ++i)
    if (spec_.controls[i].kind != ControlKind::Timer) order.push_back(static_cast<ControlId>(i));
  std::ranges::stable_sort(
      order, [this](ControlId a, ControlId b) { return specOf(a).tabIndex < specOf(b).tabIndex; });

  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const ControlSpec* previous = nullptr;
  for (ControlId id : order) {
    const ControlSpec& c = specOf(id);
    const wchar_t* cls = L"BUTTON";
    DWORD style = WS_CHILD | WS_VISIBLE | (c.enabled ? 0 : WS_DISABLED);
    DWORD ex = 0;
    switch (c.kind) {
      case ControlKind::Label:
        cls = L"STATIC";
        style |= SS_NOTIFY | SS_NOPREFIX | (c.border ? WS_BORDER : 0) |
                 (c.align == Align::Right    ? SS_RIGHT
                  : c.align == Align::Center ? SS_CENTER
                                             : SS_LEFT);
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
    c.timerOn = on;
}

void Win32Form::setSelection(ControlId id, int start, int length) {
  const std::wstring text = windowText(handle(id));
  ::SendMessageW(handle(id), EM_SETSEL, static_cast<WPARAM>(utf16Offset(text, start)),
                 static_cast<LPARAM>(utf16Offset(text, start + length)));
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
      clicks_.doubleClick();
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
      layout();
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
          c.clicks.doubleClick();
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
      // focusing just made; typing must replace the whole content.
      switch (msg) {
        case WM_LBUTTONDOWN:
          c.swallowing = ::GetFocus() != h;
          if (!c.swallowing) break;
          setFocus(id);
          return 0;
        case WM_MOUSEMOVE:
          if (c.swallowing) return 0;
          break;
        case WM_LBUTTONUP:
          if (std::exchange(c.swallowing, false)) return 0;
          break;
        case WM_KILLFOCUS:
          c.swallowing = false;
          break;
      }
      break;
    default:
      break;
  }
  return std::nullopt;
}

void Win32Form::focusFirst() {
  ControlId best = -1;
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    const ControlSpec& c = spec_.controls[i];
    const bool focusable = c.kind == ControlKind::Button || c.kind == ControlKind::TextBox ||
                           (c.kind == ControlKind::Option && controls_[i].checked);
    if (!focusable || !::IsWindowEnabled(controls_[i].hwnd)) continue;
    if (best < 0 || c.tabIndex < specOf(best).tabIndex) best = static_cast<ControlId>(i);
  }
  if (best >= 0) setFocus(best);
}

void Win32Form::show() {
  ::ShowWindow(hwnd_, SW_SHOW);
  ::SetForegroundWindow(hwnd_);
  focusFirst();
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
  modal_ = true;
  platform_.pushModal(this);
  ::EnableWindow(ownerHwnd, FALSE);
  ::ShowWindow(hwnd_, SW_SHOW);
  focusFirst();
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
  modal_ = false;
  ::DestroyWindow(std::exchange(hwnd_, nullptr));
}

void Win32Form::close() {
  closed_ = true;
  if (!modal_ && hwnd_) ::DestroyWindow(std::exchange(hwnd_, nullptr));
}

void Win32Form::userClosed() {
  if (!::IsWindowEnabled(hwnd_)) return;  // a modal dialog or box is up over it
  notify([](FormEvents& ev) { ev.closeRequested(); });
  closed_ = true;
  if (!platform_.isMain(this)) return;  // the modal loop ends and destroys it
  ::DestroyWindow(std::exchange(hwnd_, nullptr));
  ::PostQuitMessage(0);
}

template <typename F>
void Win32Form::notify(F&& f) {
  fatalOnError(platform_, [&] { f(events_); });
}

// One wake-up a second for all of a form's timers, just after each second of
// the wall clock begins, so that every tick reads a new second.
void Win32Form::tick() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  ::SetTimer(hwnd_, kTicker, 1010u - t.wMilliseconds, nullptr);
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    if (!controls_[i].timerOn) continue;
    const auto id = static_cast<ControlId>(i);
    notify([id](FormEvents& ev) { ev.timerTick(id); });
  }
}

// ---- Win32Platform -------------------------------------------------------------

Win32Platform::Win32Platform() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
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
  const int answer = ::MessageBoxW(owner, widen(text).c_str(), widen(title).c_str(), flags);
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

}  // namespace

std::unique_ptr<Platform> createPlatform() {
  return std::make_unique<Win32Platform>();
}

}  // namespace tallimo::win32
