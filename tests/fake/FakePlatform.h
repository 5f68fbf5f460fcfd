#pragma once

// An in-memory platform for the logic tests: forms that remember what the
// program did to them, scripted message-box answers, a settable clock, timers
// fired by the test and files in a temporary directory.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace tallimo::fake {

struct ShownBox {
  std::string text;
  std::string title;
  MsgIcon icon;
  MsgButtons buttons;
};

// Thrown by fatalError so that a test can see the program would have ended.
// Deliberately not a std::exception: nothing in the program may catch it.
struct FatalExit {
  AppError error;
};

LocalTime addSeconds(const LocalTime& t, std::int64_t seconds);

class FakePlatform;

class FakeForm final : public Form {
 public:
  FakeForm(FakePlatform& platform, const FormSpec& spec, FormEvents& events);
  ~FakeForm() override;

  struct Control {
    std::string text;
    bool enabled = true;
    SysColor back = SysColor::Default;
    int selStart = 0, selLength = 0;
    bool selected = false;
    std::string description;
  };

  // ---- what the program does
  void setCaption(std::string_view text) override { caption = text; }
  void setText(ControlId id, std::string_view text) override { controls.at(id).text = text; }
  std::string text(ControlId id) const override { return controls.at(id).text; }
  void setDescription(ControlId id, std::string_view text) override {
    controls.at(id).description = text;
  }
  void setEnabled(ControlId id, bool on) override { controls.at(id).enabled = on; }
  void setBackColor(ControlId id, SysColor c) override { controls.at(id).back = c; }
  void setSelection(ControlId id, int start, int length) override;
  void setFocus(ControlId id) override;
  void select(ControlId id) override;
  bool isSelected(ControlId id) const override { return controls.at(id).selected; }
  void makeTopmost() override { topmost = true; }
  void show() override { shown = true; }
  void showModal(Form& owner) override;
  void close() override { closed = true; }

  // ---- what a user does
  void click(ControlId id) { events_.activated(id); }
  void rightPress(ControlId id) { events_.rightPressed(id); }
  void tabTo(ControlId id) { setFocus(id); }
  void type(ControlId id, std::string_view text) { controls.at(id).text = text; }
  void choose(ControlId id) { select(id); }
  void closeBox();

  const Control& operator[](ControlId id) const { return controls.at(id); }
  bool timerOn(ControlId id) const { return controls.at(id).enabled; }
  FormEvents& events() { return events_; }
  const FormSpec& spec() const { return spec_; }

  std::string caption;
  std::vector<Control> controls;
  std::optional<ControlId> focus;
  bool topmost = false;
  bool shown = false;
  bool closed = false;
  Form* modalOwner = nullptr;

 private:
  FakePlatform& platform_;
  const FormSpec& spec_;
  FormEvents& events_;
};

class FakePlatform final : public Platform {
 public:
  FakePlatform();
  ~FakePlatform() override;

  std::unique_ptr<Form> createForm(const FormSpec&, FormEvents&) override;
  int run(Form&) override { return 0; }
  MsgAnswer messageBox(std::string_view text, std::string_view title, MsgIcon, MsgButtons) override;
  [[noreturn]] void fatalError(const AppError& e) override { throw FatalExit{e}; }
  LocalTime now() override { return clock; }
  std::string decimalSeparator() override { return decimalPoint; }
  std::filesystem::path programFile(std::string_view name) override { return dir / name; }
  std::unique_ptr<BinaryFile> openFile(const std::filesystem::path&) override;
  void playWave(std::span<const std::byte> wave) noexcept override;

  // ---- the test's controls
  // Sets the clock and fires the enabled timers of the first form, in order.
  void tickAt(const LocalTime& t);
  // Moves the clock on and ticks once.
  void tickAfter(std::int64_t seconds) { tickAt(addSeconds(clock, seconds)); }
  FakeForm& mainForm() { return *forms.front(); }
  // Bytes of a file in the program directory; empty when missing.
  std::vector<std::uint8_t> fileBytes(std::string_view name) const;
  void writeFileBytes(std::string_view name, const std::vector<std::uint8_t>& bytes) const;
  ShownBox lastBox() const { return boxes.at(boxes.size() - 1); }

  LocalTime clock{2026, 12, 6, 9, 37, 0};
  std::string decimalPoint = ".";
  std::filesystem::path dir;
  std::vector<ShownBox> boxes;
  // Answers for the next boxes; when empty an OK box answers OK and a
  // question answers No.
  std::deque<MsgAnswer> answers;
  // Runs while a box is up (before it answers), to act as the user would.
  std::function<void(const ShownBox&)> whileBoxShown;
  // Runs while a dialog is shown modally; the dialog closes after it when
  // the script has not closed it.
  std::function<void(FakeForm&)> whileModal;
  // Makes every write (and the close that flushes it) fail as a full disk does.
  bool failWrites = false;
  std::vector<std::vector<std::byte>> played;
  std::vector<FakeForm*> forms;  // live forms, first created first
};

}  // namespace tallimo::fake
