#pragma once

// The one seam between the program's windows and whatever draws them. Nothing
// here is toolkit-shaped: a Qt backend, a native Win32 backend and the fake
// that the tests use all implement it.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/Command.h"
#include "core/Errors.h"
#include "core/LocalTime.h"

namespace tallimo {

// ---- Layout tables ---------------------------------------------------------

enum class ControlKind { Label, Button, TextBox, Option, Frame, Timer };
enum class SysColor { Default, WindowBackground, ButtonFace };
enum class Align { Left, Right };

struct FontSpec {
  std::string_view face;  // empty: the default dialog font
  double points = 0;
  bool japanese = false;  // Japanese character set
};

inline constexpr int kTwipsPerPixel = 15;

// One row of a form's layout table. A control's id is its row number; rows
// that share a name form a control array told apart by `index`.
struct ControlSpec {
  std::string_view name;
  int index = -1;  // -1: not an array member
  ControlKind kind = ControlKind::Label;
  int container = -1;  // row of the enclosing frame, -1 for the form itself
  int left = 0, top = 0, width = 0, height = 0;  // twips, relative to the container
  std::string_view text;
  int tabIndex = -1;
  FontSpec font{};
  Align align = Align::Left;
  SysColor back = SysColor::Default;
  bool border = false;
  bool enabled = true;  // for timers: running from creation
  // What a screen reader says; an empty name leaves it to the caption.
  std::string_view accName;
  std::string_view accDescription;
  int buddy = -1;  // for a label: the row of the text box it captions
};

enum class FormKind {
  ToolWindow,  // narrow caption, close box only, no taskbar entry, fixed size
  Dialog,      // normal caption, close box only, no taskbar entry, fixed size
};

struct FormSpec {
  std::string_view name;
  FormKind kind = FormKind::Dialog;
  std::string_view caption;
  int clientWidth = 0, clientHeight = 0;  // twips
  bool placed = false;                    // place the client area at clientLeft/clientTop
  int clientLeft = 0, clientTop = 0;      // twips from the screen's top-left
  std::span<const ControlSpec> controls;
  std::string_view accName;  // what a screen reader calls the window; empty: its caption
};

using ControlId = int;

// ---- Forms -----------------------------------------------------------------

// What a form tells its owner. Every notification runs on the one UI thread.
class FormEvents {
 public:
  virtual void activated(ControlId) {}       // button click, or label / blank area click
  virtual void rightPressed(ControlId) {}    // right button pressed on a push button
  virtual void focusEntered(ControlId) {}    // a text box received the keyboard focus
  virtual void optionSelected(ControlId) {}  // by the user or by the program
  // A form's running timers tick together, in table order, once every
  // kTickPeriodMs, each tick just after a second of the wall clock begins
  // (FormRules.h), so that a tick reads a second that the tick before did
  // not. A busy machine or a clock set back breaks that: a tick comes late
  // and is not made up, or reads a second again. So a handler reads the clock
  // and never counts ticks. Ticks go on while a modal window is open.
  virtual void timerTick(ControlId) {}
  virtual void closeRequested() {}  // the user closed the form; the form then goes away
  virtual void sessionEnding() {}   // termination request or logout: save, no questions
  // A step handed over by a start from the command line. `answerStep` says
  // what the window will do and changes nothing, and opens no window;
  // `takeStep` does it, and the backend calls it only once the answer has
  // reached a sender that still waits for it: a sender that gave up must find
  // the step never done. Show is the backend's own: it brings the window
  // forward and never passes Show to `takeStep`.
  virtual StepReply answerStep(Command) { return {}; }
  virtual void takeStep(Command, const StepReply&) {}

 protected:
  ~FormEvents() = default;
};

// The id passed to `activated` for a click on the form's blank area.
inline constexpr ControlId kFormArea = -1;

class Form {
 public:
  virtual ~Form() = default;

  virtual void setCaption(std::string_view text) = 0;
  virtual void setText(ControlId, std::string_view text) = 0;
  // What a text box holds; the program reads no other control back.
  virtual std::string text(ControlId) const = 0;
  // The accessible description; screen readers speak its change on the focus.
  virtual void setDescription(ControlId, std::string_view text) = 0;
  // For timers this starts or stops them.
  virtual void setEnabled(ControlId, bool enabled) = 0;
  virtual void setBackColor(ControlId, SysColor) = 0;
  // Start and length count characters.
  virtual void setSelection(ControlId, int start, int length) = 0;
  virtual void setFocus(ControlId) = 0;
  // Selects an option button (deselecting the others of its frame) and raises
  // `optionSelected` just as a user's selection does.
  virtual void select(ControlId) = 0;
  virtual bool isSelected(ControlId) const = 0;

  // Keeps the window above all others without moving, sizing or activating it.
  virtual void makeTopmost() = 0;
  virtual void show() = 0;
  // Shows this form modally over `owner`; returns once it has closed.
  virtual void showModal(Form& owner) = 0;
  // Closes the form without raising closeRequested.
  virtual void close() = 0;
};

// ---- Files -----------------------------------------------------------------

// A binary file opened for reading and writing. Every failure throws an
// AppError naming the file and the system's reason.
class BinaryFile {
 public:
  virtual ~BinaryFile() = default;
  // Reads up to out.size() bytes at `offset`; fewer at the end of the file.
  virtual std::size_t read(std::uint64_t offset, std::span<std::byte> out) = 0;
  // Writes all of `data` at `offset` or throws.
  virtual void write(std::uint64_t offset, std::span<const std::byte> data) = 0;
  virtual std::uint64_t length() = 0;
  // Flushes to the device and closes; a failure here is a failed write.
  virtual void close() = 0;
};

// ---- Message boxes -----------------------------------------------------------

enum class MsgIcon { None, Information, Question, Warning };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

inline constexpr std::string_view kAppTitle = "Tallimo";

// ---- The platform ------------------------------------------------------------

class Platform {
 public:
  virtual ~Platform() = default;

  virtual std::unique_ptr<Form> createForm(const FormSpec&, FormEvents&) = 0;
  // Runs the event loop until `main` has closed; returns the exit status.
  virtual int run(Form& main) = 0;

  // A modal box; its answer is Ok for MsgButtons::Ok, and Yes or No for
  // YesNo, which only its buttons give: Escape and the close box do nothing.
  virtual MsgAnswer messageBox(std::string_view text, std::string_view title, MsgIcon,
                               MsgButtons) = 0;
  // True while a modal dialog or message box of this program is open.
  virtual bool modalOpen() const = 0;
  // Shows the failure and ends the process with a non-zero status.
  [[noreturn]] virtual void fatalError(const AppError&) = 0;

  virtual LocalTime now() = 0;
  virtual std::string decimalSeparator() = 0;

  // The path of a file in the directory that holds the executable.
  virtual std::filesystem::path programFile(std::string_view name) = 0;
  // Opens for reading and writing, creating an empty file when missing.
  virtual std::unique_ptr<BinaryFile> openFile(const std::filesystem::path&) = 0;

  // Starts playing an in-memory wave image and returns at once; a new sound
  // replaces one still playing. Every failure is ignored.
  virtual void playWave(std::span<const std::byte> wave) noexcept = 0;
};

}  // namespace tallimo
