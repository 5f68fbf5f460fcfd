#include "frmMain/frmMain.h"

#include <cmath>
#include <utility>

#include "core/CounterState.h"
#include "core/NumberText.h"
#include "frmMain/DayRecordFile.h"
#include "frmSet/frmSet.h"
#include "mdlMain/mdlMain.h"
#include "platform/ErrorReport.h"

namespace tallimo {
namespace {

using mdlPub::state;

constexpr FontSpec kGothic11{.face = "ＭＳ ゴシック", .points = 11.25, .japanese = true};

constexpr ControlSpec kControls[] = {
    {.name = "lblWindow",
     .kind = ControlKind::Label,
     .left = 0,
     .top = 0,
     .width = 570,
     .height = 285,
     .text = "0",
     .tabIndex = 0,
     .font = kGothic11,
     .align = Align::Right,
     .back = SysColor::WindowBackground,
     .border = true,
     .accName = "件数"},
    {.name = "cmdSet",
     .kind = ControlKind::Button,
     .left = 600,
     .top = 15,
     .width = 255,
     .height = 255,
     .text = "!",
     .tabIndex = 2,
     .accName = "設定"},
    {.name = "cmdCount",
     .kind = ControlKind::Button,
     .left = 0,
     .top = 300,
     .width = 855,
     .height = 300,
     .text = "Tallimo!!",
     .tabIndex = 1,
     .accName = "Tallimo!!",
     .accDescription = "1 件数える"},
    {.name = "tmrClock", .kind = ControlKind::Timer},
    {.name = "tmrAlarm", .kind = ControlKind::Timer},
    {.name = "tmrLap", .kind = ControlKind::Timer},
};
static_assert(kControls[frmMain::tmrLap].name == "tmrLap");

bool isTimeOf(const LocalTime& now, std::int64_t periodStart,
              const std::optional<LocalTime>& prev) {
  // On time at second 0, or late: the tick before, while the timer ran,
  // came before the period began.
  return secondsSinceEpoch(now) == periodStart || (prev && secondsSinceEpoch(*prev) < periodStart);
}

// What a count or uncount makes of `count`; at the top a count leaves it.
std::int16_t stepped(std::int16_t count, Command step) {
  CounterState after{.count = count};
  if (step == Command::Uncount)
    countDown(after);
  else if (after.count < kMaxCount)
    countUp(after);
  return after.count;
}

}  // namespace

const FormSpec frmMain::kLayout{
    .name = "frmMain",
    .kind = FormKind::ToolWindow,
    .caption = "Form1",
    .clientWidth = 840,
    .clientHeight = 600,
    .placed = true,
    .clientLeft = 45,
    .clientTop = 270,
    .controls = kControls,
    .accName = kAppTitle,
};

frmMain::frmMain(Platform& platform) : platform_(platform) {}

int runMainWindow(Platform& platform, Command first) {
  frmMain window(platform);
  fatalOnError(platform, [&] { window.open(); });
  // A shortcut pressed before Tallimo was running still counts.
  if (first != Command::Show) window.takeStep(first, window.answerStep(first));
  return platform.run(window.form());
}

void frmMain::open() {
  form_ = platform_.createForm(kLayout, *this);
  fatalOnError(platform_, [this] { load(); });
  form_->show();
}

void frmMain::load() {
  setAlarmTimer(false);
  setLapTimer(false);
  form_->makeTopmost();

  lastWritten_ = readDayRecord(platform_);
  record_ = decodeDayRecord(lastWritten_);
  // A record dated after today comes from a clock that was, or is, wrong:
  // it is offered back like today's rather than silently thrown away.
  const double savedOn = record_.savedOn;
  if (std::isfinite(savedOn) && savedOn == std::trunc(savedOn) &&
      savedOn >= dayNumber(platform_.now())) {
    const auto answer = platform_.messageBox("先ほどの件数を再表示しますか？",
                                             std::string(kAppTitle) + "　……　復活！！",
                                             MsgIcon::Question, MsgButtons::YesNo);
    if (answer == MsgAnswer::Yes) {
      state.count = record_.count;
      state.goal = record_.goal;
    }
  }
  showCount();

  const LocalTime now = platform_.now();
  state.lapHour = now.hour;
  state.lapDay = dayNumber(now);

  state.alarmOn = record_.alarmOn;
  state.lapOn = record_.lapOn;
  if (isTrue(state.alarmOn)) {
    setAlarmTimer(true);
    state.alarmHour = record_.alarmHour;
    state.alarmMinute = record_.alarmMinute;
  } else {
    state.alarmHour = 0;
    state.alarmMinute = 0;
  }
  if (isTrue(state.lapOn)) setLapTimer(true);
  loaded_ = true;
}

void frmMain::showCount() {
  const std::string count = formatInt(state.count);
  form_->setText(lblWindow, count);
  // Screen readers speak a description change of the focused control, and
  // either button may have the focus. At start they keep their own.
  if (!loaded_) return;
  for (ControlId button : {cmdCount, cmdSet}) form_->setDescription(button, count + "件");
}

void frmMain::setAlarmTimer(bool on) {
  if (on && !alarmTimerOn_) prevAlarmTick_.reset();
  alarmTimerOn_ = on;
  form_->setEnabled(tmrAlarm, on);
}

void frmMain::setLapTimer(bool on) {
  if (on && !lapTimerOn_) prevLapTick_.reset();
  lapTimerOn_ = on;
  form_->setEnabled(tmrLap, on);
}

void frmMain::activated(ControlId id) {
  reportErrors(platform_, [&] {
    if (id == cmdSet)
      openSettings();
    else
      countUp();
  });
}

void frmMain::rightPressed(ControlId) {
  reportErrors(platform_, [&] { countDown(); });
}

void frmMain::countUp() {
  tallimo::countUp(state);
  showCount();
}

void frmMain::countDown() {
  tallimo::countDown(state);
  showCount();
}

StepReply frmMain::answerStep(Command command) {
  StepReply reply{.count = countAfterKeptSteps(state.count)};
  if (command != Command::Count && command != Command::Uncount) return reply;
  if (closing_) return {.kind = StepReply::Kind::Closing, .count = reply.count};
  if (command == Command::Count && reply.count == kMaxCount)
    return {.kind = StepReply::Kind::Refused, .count = reply.count, .error = kErrOverflow};
  reply.kind = canStepNow() ? StepReply::Kind::Taken : StepReply::Kind::Kept;
  reply.count = stepped(reply.count, command);
  return reply;
}

void frmMain::takeStep(Command command, const StepReply& reply) {
  if (command != Command::Count && command != Command::Uncount) return;
  switch (reply.kind) {
    case StepReply::Kind::Taken:
      applyStep(command);
      break;
    case StepReply::Kind::Kept:
      keptSteps_.push_back(command);
      break;
    case StepReply::Kind::Refused:
      // The window says it as it does for a click; not over a modal window.
      if (canStepNow()) applyStep(command);
      break;
    case StepReply::Kind::Closing:
      break;
  }
}

// The count `count` becomes once the kept steps are done: from the state's
// count, what `--status` answers.
std::int16_t frmMain::countAfterKeptSteps(std::int16_t count) const {
  for (const Command step : keptSteps_) count = stepped(count, step);
  return count;
}

void frmMain::applyKeptSteps(bool quietly) {
  if (quietly) {
    state.count = countAfterKeptSteps(state.count);
    keptSteps_.clear();
    if (loaded_) showCount();
    return;
  }
  for (const Command step : std::exchange(keptSteps_, {})) applyStep(step);
}

// Not before the load step has brought the record in, nor under a modal
// window, whose end (the dialog's OK) may set the count.
bool frmMain::canStepNow() const {
  return loaded_ && !platform_.modalOpen();
}

void frmMain::applyStep(Command command) {
  reportErrors(platform_, [&] { command == Command::Count ? countUp() : countDown(); });
}

void frmMain::openSettings() {
  frmSet::showModal(platform_, *this);
}

void frmMain::timerTick(ControlId id) {
  reportErrors(platform_, [&] {
    switch (id) {
      case tmrClock:
        clockTick();
        break;
      case tmrAlarm:
        alarmTick();
        break;
      case tmrLap:
        lapTick();
        break;
      default:
        break;
    }
  });
}

void frmMain::clockTick() {
  const LocalTime now = platform_.now();
  form_->setCaption(formatHourMinute(now));
  if (!keptSteps_.empty() && canStepNow()) applyKeptSteps(false);
  saveIfChanged(now);
}

// Keeps the file within a tick of the state, so that a crash or a power cut
// loses at most a second of counting. A failing write is reported once and
// tried again quietly on every tick until it succeeds.
void frmMain::saveIfChanged(const LocalTime& now) {
  if (!loaded_) return;
  const auto bytes = encodeDayRecord(recordFromState(state, dayNumber(now)));
  if (bytes == lastWritten_) return;
  try {
    writeDayRecord(platform_, bytes);
    lastWritten_ = bytes;
    saveFailing_ = false;
  } catch (const AppError&) {
    if (!std::exchange(saveFailing_, true)) throw;
  }
}

void frmMain::alarmTick() {
  const LocalTime now = platform_.now();
  const auto prev = std::exchange(prevAlarmTick_, now);
  if (now.hour != state.alarmHour || now.minute != state.alarmMinute) return;
  const std::int64_t minuteStart = secondsSinceEpoch(now) - now.second;
  if (minuteStart == alarmFiredMinute_ || !isTimeOf(now, minuteStart, prev)) return;
  alarmFiredMinute_ = minuteStart;

  // A chime that cannot be read is reported, but the message is what the
  // user set the alarm for, so it is shown all the same.
  reportErrors(platform_, [&] {
    mdlMain::loadChime(platform_, mdlMain::kChimeFileName);
    mdlMain::playChime(platform_);
  });
  platform_.messageBox("時間で～す！！", "アラーム", MsgIcon::Information, MsgButtons::Ok);
}

void frmMain::lapTick() {
  const LocalTime now = platform_.now();
  const auto prev = std::exchange(prevLapTick_, now);
  if (now.minute != 0) return;
  if (!isTimeOf(now, secondsSinceEpoch(now) - now.second, prev)) return;
  // Periods are compared by date and hour, so reports go on past midnight.
  const std::int32_t today = dayNumber(now);
  if (today < state.lapDay || (today == state.lapDay && now.hour <= state.lapHour)) return;

  const std::int32_t startHour = state.lapHour;
  state.lapHour = now.hour;
  state.lapDay = today;
  const std::int32_t counted = state.count - state.lapBase;
  // The next period starts now, not when the box is closed: a report left
  // open past the next full hour must not count this hour again.
  state.lapBase = state.count;
  platform_.messageBox(formatInt(startHour) + "時から" + formatInt(state.lapHour) +
                           "時までの件数は" + formatInt(counted) + "件でした",
                       "ラップ件数", MsgIcon::Information, MsgButtons::Ok);
}

void frmMain::closeRequested() {
  closing_ = true;
  applyKeptSteps(true);
  reportErrors(platform_, [&] {
    record_ = recordFromState(state, dayNumber(platform_.now()));
    writeDayRecord(platform_, encodeDayRecord(record_));
    const float rate =
        state.goal == 0 ? 0.0f
                        : static_cast<float>(static_cast<double>(state.count) / state.goal * 100.0);
    platform_.messageBox(
        "今日は目標 " + formatInt(state.goal) + "件、実績 " + formatInt(state.count) + "件（ " +
            formatRate(rate, platform_.decimalSeparator()) + "％）でした。",
        std::string(kAppTitle) + "　……　お疲れ様でした。", MsgIcon::Information, MsgButtons::Ok);
  });
}

void frmMain::sessionEnding() {
  if (!loaded_) {
    // Under the restore question the record stays as it is for the next
    // start to offer, with the steps kept meanwhile counted on its count.
    if (keptSteps_.empty()) return;
    DayRecord held = record_;
    held.count = countAfterKeptSteps(record_.count);
    keptSteps_.clear();
    writeDayRecord(platform_, encodeDayRecord(held));
    return;
  }
  applyKeptSteps(true);
  writeDayRecord(platform_, encodeDayRecord(recordFromState(state, dayNumber(platform_.now()))));
}

}  // namespace tallimo
