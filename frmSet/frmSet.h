#pragma once

#include <memory>

#include "platform/Platform.h"

namespace tallimo {

class frmMain;

// The modal settings dialog: goal, count, daily alarm and hourly report.
// It keeps no data of its own: it reads the counter state when it opens and
// writes it back, with the main window's label and timers, on OK.
class frmSet final : public FormEvents {
 public:
  enum Ctl : ControlId {
    fraCnt,
    Label0,
    txtGoal,
    Label1,
    txtCnt,
    fraAla,
    optAla0,
    optAla1,
    txtAla0,
    Label2,
    txtAla1,
    fraLap,
    optLap0,
    optLap1,
    cmdReg,
    cmdCan,
  };
  static const FormSpec kLayout;

  // Creates the dialog, runs its load step and shows it modally over the
  // main window; returns when it has closed.
  static void showModal(Platform& platform, frmMain& owner);

  void activated(ControlId) override;
  void focusEntered(ControlId) override;
  void optionSelected(ControlId) override;

 private:
  frmSet(Platform& platform, frmMain& owner);
  void load();
  void alarmFieldStep(ControlId selected);
  void okAction();

  Platform& platform_;
  frmMain& owner_;
  std::unique_ptr<Form> form_;
};

}  // namespace tallimo
