#include "frmSet/frmSet.h"

#include "core/CounterState.h"
#include "core/NumberText.h"
#include "frmMain/frmMain.h"
#include "platform/ErrorReport.h"

namespace tallimo {
namespace {

using mdlPub::state;

constexpr FontSpec kGothic9{.face = "ＭＳ ゴシック", .points = 9, .japanese = true};
constexpr FontSpec kGothic11{.face = "ＭＳ ゴシック", .points = 11.25, .japanese = true};

constexpr ControlSpec textBox(std::string_view name, int index, int container, int left, int top,
                              int width, int tab, std::string_view accName) {
  return {.name = name,
          .index = index,
          .kind = ControlKind::TextBox,
          .container = container,
          .left = left,
          .top = top,
          .width = width,
          .height = 270,
          .tabIndex = tab,
          .font = kGothic11,
          .align = Align::Right,
          .back = SysColor::WindowBackground,
          .accName = accName};
}

constexpr ControlSpec label(int index, int container, int left, int top, int width,
                            std::string_view text, int tab, int buddy = -1) {
  return {.name = "Label",
          .index = index,
          .kind = ControlKind::Label,
          .container = container,
          .left = left,
          .top = top,
          .width = width,
          .height = 180,
          .text = text,
          .tabIndex = tab,
          .font = kGothic9,
          .buddy = buddy};
}

constexpr ControlSpec option(std::string_view name, int index, int container, int left, int top,
                             int width, std::string_view text, int tab) {
  return {.name = name,
          .index = index,
          .kind = ControlKind::Option,
          .container = container,
          .left = left,
          .top = top,
          .width = width,
          .height = 255,
          .text = text,
          .tabIndex = tab};
}

constexpr ControlSpec frame(std::string_view name, int left, int top, int width, int height,
                            std::string_view caption, int tab) {
  return {.name = name,
          .kind = ControlKind::Frame,
          .left = left,
          .top = top,
          .width = width,
          .height = height,
          .text = caption,
          .tabIndex = tab};
}

constexpr ControlSpec button(std::string_view name, int top, std::string_view caption, int tab) {
  return {.name = name,
          .kind = ControlKind::Button,
          .left = 2880,
          .top = top,
          .width = 1095,
          .height = 375,
          .text = caption,
          .tabIndex = tab};
}

using S = frmSet;
constexpr ControlSpec kControls[] = {
    frame("fraCnt", 120, 120, 2655, 1035, "データ", 0),
    label(0, S::fraCnt, 240, 285, 1080, "今回の目標：", 1, S::txtGoal),
    textBox("txtGoal", -1, S::fraCnt, 1440, 240, 975, 2, "今回の目標"),
    label(1, S::fraCnt, 240, 645, 1080, "只今の件数：", 3, S::txtCnt),
    textBox("txtCnt", -1, S::fraCnt, 1440, 600, 975, 4, "只今の件数"),
    frame("fraAla", 120, 1200, 2655, 975, "アラーム", 5),
    option("optAla", 0, S::fraAla, 120, 240, 615, "ON", 6),
    option("optAla", 1, S::fraAla, 120, 600, 735, "OFF", 7),
    textBox("txtAla", 0, S::fraAla, 840, 240, 615, 8, "アラームの時"),
    label(2, S::fraAla, 1560, 285, 180, "：", 9),
    textBox("txtAla", 1, S::fraAla, 1800, 240, 615, 10, "アラームの分"),
    frame("fraLap", 2880, 120, 1095, 1035, "ラップ件数", 11),
    option("optLap", 0, S::fraLap, 240, 270, 615, "ON", 12),
    option("optLap", 1, S::fraLap, 240, 600, 735, "OFF", 13),
    button("cmdReg", 1320, "OK", 14),
    button("cmdCan", 1800, "キャンセル", 15),
};
static_assert(kControls[S::cmdCan].name == "cmdCan" && kControls[S::txtAla1].index == 1);

}  // namespace

const FormSpec frmSet::kLayout{
    .name = "frmSet",
    .kind = FormKind::Dialog,
    .caption = "",
    .clientWidth = 4140,
    .clientHeight = 2340,
    .controls = kControls,
};

frmSet::frmSet(Platform& platform, frmMain& owner) : platform_(platform), owner_(owner) {}

void frmSet::showModal(Platform& platform, frmMain& owner) {
  frmSet dialog(platform, owner);
  dialog.form_ = platform.createForm(kLayout, dialog);
  fatalOnError(platform, [&] { dialog.load(); });
  dialog.form_->showModal(owner.form());
}

void frmSet::load() {
  form_->setCaption(std::string(kAppTitle) + "の設定");
  form_->setText(txtGoal, formatInt(state.goal));
  form_->setText(txtCnt, formatInt(state.count));
  form_->select(isTrue(state.lapOn) ? optLap0 : optLap1);
  form_->select(isTrue(state.alarmOn) ? optAla0 : optAla1);
}

void frmSet::optionSelected(ControlId id) {
  if (id == optAla0 || id == optAla1) fatalOnError(platform_, [&] { alarmFieldStep(id); });
}

void frmSet::alarmFieldStep(ControlId selected) {
  const bool on = selected == optAla0;
  form_->setEnabled(txtAla0, on);
  form_->setEnabled(txtAla1, on);
  const SysColor back = on ? SysColor::WindowBackground : SysColor::ButtonFace;
  form_->setBackColor(txtAla0, back);
  form_->setBackColor(txtAla1, back);
  form_->setText(txtAla0, on ? formatInt(state.alarmHour) : "");
  form_->setText(txtAla1, on ? formatInt(state.alarmMinute) : "");
}

void frmSet::focusEntered(ControlId id) {
  reportErrors(platform_, [&] { form_->setSelection(id, 0, characterCount(form_->text(id))); });
}

void frmSet::activated(ControlId id) {
  reportErrors(platform_, [&] {
    if (id == cmdReg)
      okAction();
    else if (id == cmdCan)
      form_->close();
  });
}

void frmSet::okAction() {
  state.goal = parseInt16(form_->text(txtGoal));
  state.count = parseInt16(form_->text(txtCnt));
  owner_.showCount();

  if (form_->isSelected(optAla0)) {
    for (ControlId box : {txtAla0, txtAla1}) {
      if (form_->text(box).empty()) {
        platform_.messageBox("時間が不明です", kAppTitle, MsgIcon::Warning, MsgButtons::Ok);
        form_->setFocus(box);
        return;
      }
    }
    // Both fields convert before anything of the alarm changes, so that a
    // typing mistake never leaves an alarm on at a time nobody set.
    const auto hour = parseInt16(form_->text(txtAla0));
    const auto minute = parseInt16(form_->text(txtAla1));
    state.alarmOn = kTrue;
    owner_.setAlarmTimer(true);
    state.alarmHour = hour;
    state.alarmMinute = minute;
  } else {
    owner_.setAlarmTimer(false);
    state.alarmOn = kFalse;
    state.alarmHour = 0;
    state.alarmMinute = 0;
  }

  if (form_->isSelected(optLap0)) {
    state.lapOn = kTrue;
    owner_.setLapTimer(true);
  } else {
    state.lapOn = kFalse;
    owner_.setLapTimer(false);
  }
  form_->close();
}

}  // namespace tallimo
