#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/DayRecord.h"
#include "platform/Platform.h"

namespace tallimo {

// The tiny always-on-top counting window: count label, settings and count
// buttons, a clock in the caption, and the alarm and hourly-report timers.
class frmMain final : public FormEvents {
 public:
  enum Ctl : ControlId { lblWindow, cmdSet, cmdCount, tmrClock, tmrAlarm, tmrLap };
  static const FormSpec kLayout;

  explicit frmMain(Platform& platform);

  // Creates the window, runs the load step and shows it.
  void open();
  Form& form() { return *form_; }

  // Shows the count in the label and tells screen readers about it.
  void showCount();
  // Starting the alarm timer again forgets the tick before it stopped.
  void setAlarmTimer(bool on);
  void setLapTimer(bool on);

  void activated(ControlId) override;
  void rightPressed(ControlId) override;
  void timerTick(ControlId) override;
  void closeRequested() override;
  void sessionEnding() override;
  StepReply answerStep(Command) override;
  void takeStep(Command, const StepReply&) override;

 private:
  void load();
  void countUp();
  void countDown();
  bool canStepNow() const;
  std::int16_t countAfterKeptSteps(std::int16_t count) const;
  void applyStep(Command);
  void applyKeptSteps(bool quietly);
  void clockTick();
  void alarmTick();
  void lapTick();
  void saveIfChanged(const LocalTime& now);
  void openSettings();

  Platform& platform_;
  std::unique_ptr<Form> form_;
  DayRecord record_;  // the record as read at start and written at close
  // Until the load step has brought the record in, the state holds nothing
  // worth writing and writing it would destroy the saved count.
  bool loaded_ = false;

  // What the file holds: as read at start, then as last written successfully.
  DayRecordBytes lastWritten_{};
  bool saveFailing_ = false;

  // Steps from the command line that arrived while a modal window was open:
  // they count as clicks made after it closes.
  std::vector<Command> keptSteps_;
  // Set once the close has written the record: a later step would be lost.
  bool closing_ = false;

  bool alarmTimerOn_ = false;
  std::optional<LocalTime> prevAlarmTick_;
  std::int64_t alarmFiredMinute_ = -1;
  bool lapTimerOn_ = false;
  std::optional<LocalTime> prevLapTick_;
};

// What every front does once it has its platform: opens the main window,
// hands it the step the start was made for (Show: none), and runs the event
// loop. Returns the exit status.
int runMainWindow(Platform& platform, Command first);

}  // namespace tallimo
