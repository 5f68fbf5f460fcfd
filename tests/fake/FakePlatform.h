#pragma once

// An in-memory platform for the logic tests: forms that remember what the
// program did to them, a log of the message boxes with scripted answers, a
// clock the test sets, timers the test fires and files in a temporary folder.

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace tallimo::fake {

// The reading `seconds` after `t`, across days, months and years.
LocalTime addSeconds(const LocalTime& t, std::int64_t seconds);

class FakePlatform;

class FakeForm final : public Form {
 public:
  FakeForm(FakePlatform& platform, const FormSpec& spec, FormEvents& events);
  ~FakeForm() override;

  struct Control {
    std::string text, description;
    bool enabled = true, selected = false;
    SysColor back = SysColor::Default;
    int selStart = -1, selLength = -1;
  };
  const Control& operator[](ControlId id) const { return controls.at(id); }

  void setCaption(std::string_view text) override { caption = text; }
  void setText(ControlId id, std::string_view text) override { controls.at(id).text = text; }
  std::string text(ControlId id) const override { return controls.at(id).text; }
  void setDescription(ControlId id, std::string_view s) override {
    controls.at(id).description = s;
  }
  void setEnabled(ControlId id, bool on) override { controls.at(id).enabled = on; }
  void setBackColor(ControlId id, SysColor c) override { controls.at(id).back = c; }
  void setSelection(ControlId id, int start, int length) override {
    controls.at(id).selStart = start, controls.at(id).selLength = length;
  }
  void setFocus(ControlId id) override {  // on a text box raises focusEntered
    focus = id;
    if (spec_.controls[id].kind == ControlKind::TextBox) events_.focusEntered(id);
  }
  void select(ControlId id) override;  // deselects the others of its frame
  bool isSelected(ControlId id) const override { return controls.at(id).selected; }
  void makeTopmost() override { topmost = true; }
  void show() override { shown = true; }
  // Focuses the first text box of the table (the lowest tab stop of the
  // dialog), runs the test's script, then closes.
  void showModal(Form& owner) override;
  void close() override { closed = true; }

  // What a user, or the event loop, does.
  void click(ControlId id) { events_.activated(id); }
  void rightPress(ControlId id) { events_.rightPressed(id); }
  void closeBox() { events_.closeRequested(), closed = true; }
  // Every running timer, in table order; throws when a tick's handler does
  // not read the clock, since ticks come late or read a second again.
  void tick();
  // A step from another start, as a backend hands it over: answered, then
  // taken when `delivered`, Show never.
  StepReply step(Command c, bool delivered = true) {
    const StepReply reply = events_.answerStep(c);
    if (delivered && c != Command::Show) events_.takeStep(c, reply);
    return reply;
  }

  std::string caption;
  std::vector<Control> controls;
  ControlId focus = -1;
  bool topmost = false, shown = false, closed = false;

 private:
  FakePlatform& platform_;
  const FormSpec& spec_;
  FormEvents& events_;
};

class FakePlatform final : public Platform {
 public:
  FakePlatform() { std::filesystem::create_directories(dir); }
  ~FakePlatform() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::unique_ptr<Form> createForm(const FormSpec& spec, FormEvents& events) override {
    return std::make_unique<FakeForm>(*this, spec, events);
  }
  int run(Form&) override { return 0; }
  // Logs "<icon> <title>: <text>" (icon '-', 'i', '?' or '!'; "?YN" for a
  // question), runs whileBoxShown and gives the next scripted answer: when
  // there is none, OK or No. Throws on an answer that its buttons cannot give.
  MsgAnswer messageBox(std::string_view text, std::string_view title, MsgIcon, MsgButtons) override;
  bool modalOpen() const override { return modalDepth > 0; }
  [[noreturn]] void fatalError(const AppError&) override { std::abort(); }  // no test expects it
  LocalTime now() override { return ++clockReads, clock; }
  std::string decimalSeparator() override { return decimalPoint; }
  std::filesystem::path programFile(std::string_view name) override { return dir / name; }
  // The real file, counting the bytes read, except that while failFlush is
  // set, what is written never reaches it and the close fails, as on a full disk.
  std::unique_ptr<BinaryFile> openFile(const std::filesystem::path&) override;
  void playWave(std::span<const std::byte> wave) noexcept override {
    played.emplace_back(wave.begin(), wave.end());
  }

  // Sets the clock and ticks the main window's running timers.
  void tickAt(const LocalTime& t) { clock = t, forms.front()->tick(); }
  std::string file(std::string_view name) const;
  void writeFile(std::string_view name, std::string_view bytes) const;

  LocalTime clock{2026, 12, 6, 9, 37, 0};
  std::string decimalPoint = ".";
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("tallimo-test-" + std::to_string(std::random_device{}()));
  std::string boxes;  // one line a box
  std::deque<MsgAnswer> answers;
  std::function<void(const std::string& line)> whileBoxShown;
  std::function<void(FakeForm&)> whileModal;
  bool failFlush = false;
  std::uint64_t bytesRead = 0;  // by the program, from every file
  int modalDepth = 0;           // while whileModal or whileBoxShown runs
  int clockReads = 0;
  std::vector<std::vector<std::byte>> played;
  std::vector<FakeForm*> forms;  // live forms, the main window first
};

}  // namespace tallimo::fake
