#pragma once

// The Win32 backend's own classes, shared by its source files: forms built
// from the layout tables (Win32Form.cpp) and what the user does to them
// (Win32FormInput.cpp), the platform with its event loop, message boxes and
// single instance (Win32Platform.cpp), and what screen readers are told
// (Win32Access.cpp). Nothing outside platform/win32 sees it.

// clang-format off
#include <windows.h>
// clang-format on

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ErrorReport.h"
#include "platform/FormRules.h"
#include "platform/Platform.h"

struct IAccPropServices;

namespace tallimo::win32 {

// The form's one timer, which ticks for all the timers of its table.
inline constexpr UINT_PTR kTicker = 1;
// Control ids start above IDOK and IDCANCEL, which Enter and Escape send.
inline constexpr int kFirstId = 100;

// Names and descriptions for screen readers, through the system's dynamic
// annotation (oleacc). Without it (no COM, or a system that lacks it) every
// call does nothing: the controls keep the names the system gives them.
class Accessibility {
 public:
  Accessibility();
  ~Accessibility();
  Accessibility(const Accessibility&) = delete;
  Accessibility& operator=(const Accessibility&) = delete;

  void setName(HWND h, std::string_view name);
  // With `announce`, tells screen readers that it changed.
  void setDescription(HWND h, std::string_view description, bool announce);
  // Drops what was set on a window that is about to go.
  void forget(HWND h);

 private:
  IAccPropServices* services_ = nullptr;
  bool comStarted_ = false;
};

// A press and release of the left or right button over a label or the blank
// area is one activation. The second press of a quick double press arrives
// as a double-click, which is no press, so it counts once.
class ClickTracker {
 public:
  void press(HWND h, UINT downMessage);
  void cancel() { pressed_ = 0; }
  bool release(HWND h, UINT upMessage, LPARAM lp);

 private:
  UINT pressed_ = 0;
};

// The window of ours that a modal window (the dialog or a message box) goes
// over, and the control in it that had the keyboard focus. When the modal
// window has gone, the window is made active again with the focus back on
// that control, as an owner gets it back on Windows; under Wine the focus
// may otherwise be nowhere, or in another program, and the user's next key
// would be lost.
class FocusKeeper {
 public:
  explicit FocusKeeper(HWND over);
  void restore() const;

 private:
  HWND window_ = nullptr;
  HWND focus_ = nullptr;
  bool wasForeground_ = false;
};

class Win32Platform;

// A live form: a modeless dialog (so that the dialog manager gives Tab, the
// arrow keys within option groups and Space on buttons), its controls as
// direct children ordered by tab index, and one ticker for all its timers.
class Win32Form final : public Form {
 public:
  Win32Form(Win32Platform& platform, const FormSpec& spec, FormEvents& events, HWND owner);
  ~Win32Form() override;

  void setCaption(std::string_view text) override;
  void setText(ControlId id, std::string_view text) override;
  std::string text(ControlId id) const override;
  void setDescription(ControlId id, std::string_view text) override;
  void setEnabled(ControlId id, bool on) override;
  void setBackColor(ControlId id, SysColor color) override;
  void setSelection(ControlId id, int start, int length) override;
  void setFocus(ControlId id) override;
  void select(ControlId id) override;
  bool isSelected(ControlId id) const override;
  void makeTopmost() override;
  void show() override;
  void showModal(Form& owner) override;
  void close() override;

  HWND hwnd() const { return hwnd_; }
  bool closed() const { return closed_; }
  FormEvents& events() { return events_; }
  void attach(HWND hwnd) { hwnd_ = hwnd; }
  INT_PTR dialogMessage(UINT msg, WPARAM wp, LPARAM lp);
  std::optional<LRESULT> controlMessage(ControlId id, HWND h, UINT msg, WPARAM wp, LPARAM lp);

 private:
  struct Control {
    HWND hwnd = nullptr;
    SysColor back = SysColor::Default;
    bool checked = false;
    ClickTracker clicks;
  };

  HWND handle(ControlId id) const { return controls_.at(id).hwnd; }
  const ControlSpec& specOf(ControlId id) const { return spec_.controls[id]; }
  int px(int twips) const { return ::MulDiv(twips, static_cast<int>(dpi_), 1440); }
  void createControls();
  void nameControls();
  void layout();
  void placeClientAt(int left, int top);
  void command(int id, int code);
  void syncOptions(int container);
  void placeOver(HWND owner);
  void userClosed();
  void destroy();
  void startTicker(int ms);
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
  Timers timers_;
  ClickTracker clicks_;
  bool closed_ = false;
};

class Win32Platform final : public Platform {
 public:
  // `instance` names this program folder's running instance.
  explicit Win32Platform(const std::wstring& instance);
  ~Win32Platform() override;

  std::unique_ptr<Form> createForm(const FormSpec& spec, FormEvents& events) override;
  int run(Form& main) override;
  MsgAnswer messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                       MsgButtons buttons) override;
  bool modalOpen() const override { return !modal_.empty() || boxesOpen_ > 0; }
  [[noreturn]] void fatalError(const AppError& e) override;
  LocalTime now() override;
  std::string decimalSeparator() override;
  std::filesystem::path programFile(std::string_view name) override;
  std::unique_ptr<BinaryFile> openFile(const std::filesystem::path& path) override;
  void playWave(std::span<const std::byte> wave) noexcept override;

  Accessibility& access() { return access_; }
  bool isMain(const Win32Form* form) const { return form == main_; }
  void formGone(const Win32Form* form);
  void pushModal(Win32Form* form) { modal_.push_back(form); }
  void popModal() { modal_.pop_back(); }
  void dispatch(MSG& msg);
  [[noreturn]] void endSession();
  // Another start from this folder asked for the running window.
  void comeForward();
  // A step from another start, answered in its sender's reply slot and
  // taken only when the sender still waits; returns the answer's word.
  LRESULT stepRequested(Command command, const std::wstring& slot);
  const std::wstring& instance() const { return instance_; }

 private:
  std::wstring instance_;
  HHOOK heldKeys_;
  Win32Form* main_ = nullptr;
  std::vector<Win32Form*> modal_;
  int boxesOpen_ = 0;
  std::vector<std::byte> wave_;
  Accessibility access_;
  // Hidden; owns the main window, which so has no taskbar button, and is
  // what a second start from this folder finds.
  HWND anchor_ = nullptr;
};

// Runs one notification; a failure that gets this far ends the program.
template <typename F>
void Win32Form::notify(F&& f) {
  fatalOnError(platform_, [&] { f(events_); });
}

}  // namespace tallimo::win32
