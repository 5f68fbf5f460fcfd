// The Qt backend on the offscreen platform: what the layout tables become,
// which notifications real mouse and keyboard input turns into, and the
// message boxes.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

#include "core/CounterState.h"
#include "frmMain/frmMain.h"
#include "frmSet/frmSet.h"
#include "platform/qt/QtPlatform.h"

namespace tallimo::qttest {
namespace {

Platform* thePlatform = nullptr;  // created in main()
using Log = std::vector<std::string>;
using M = frmMain;
using S = frmSet;
using B = MsgButtons;
using Q = QMessageBox;

QWidget* windowNamed(std::string_view name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName().toStdString() == name) return w;
  return nullptr;
}

// A form made from a real layout table. It logs notifications by control
// name ("activated cmdCount"); timer ticks are only counted, since they come
// whenever the clock says so.
struct RecordedForm final : FormEvents {
  explicit RecordedForm(const FormSpec& s)
      : spec(s), form(thePlatform->createForm(s, *this)), window(windowNamed(s.name)) {}
  void activated(ControlId id) override { add("activated ", id); }
  void rightPressed(ControlId id) override { add("rightPressed ", id); }
  void focusEntered(ControlId id) override { add("focusEntered ", id); }
  void optionSelected(ControlId id) override { add("optionSelected ", id); }
  void timerTick(ControlId id) override { ++ticks[id]; }
  void closeRequested() override { log.push_back("closeRequested"); }
  void add(std::string what, ControlId id) {
    if (id == kFormArea) return log.push_back(what + "form");
    const ControlSpec& c = spec.controls[static_cast<std::size_t>(id)];
    log.push_back(what.append(c.name) + (c.index < 0 ? "" : "(" + std::to_string(c.index) + ")"));
  }
  Log take() { return std::exchange(log, {}); }
  QWidget* operator[](const char* name) const { return window->findChild<QWidget*>(name); }
  void show() {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    take();
  }

  const FormSpec& spec;
  Log log;
  std::map<ControlId, int> ticks;
  std::unique_ptr<Form> form;
  QWidget* window;
};

// Runs `body` once the next modal window is up; closes what it leaves open,
// so a failed check cannot hang the run.
void whenModal(std::function<void(QWidget*)> body, int tries = 0) {
  QTimer::singleShot(0, [body = std::move(body), tries]() mutable {
    QPointer<QWidget> modal = QApplication::activeModalWidget();
    if (!modal && tries < 1000) return whenModal(std::move(body), tries + 1);
    if (!modal) return ADD_FAILURE() << "no modal window appeared";
    body(modal);
    auto* dialog = qobject_cast<QDialog*>(modal.data());
    if (dialog && dialog->isVisible()) dialog->reject(), ADD_FAILURE() << "modal window left open";
  });
}

class QtBackend : public ::testing::Test {
 protected:
  // Mouse input given to the window at the spot where `w` lies, so that Qt
  // picks the receiver, grabs the mouse and detects double clicks.
  static void mouse(QTest::MouseAction action, QWidget* w, Qt::MouseButton button, QPoint at = {}) {
    at = w->mapTo(w->window(), at.isNull() ? w->rect().center() : at);
    QTest::mouseEvent(action, w->window()->windowHandle(), button, {}, at);
  }
  static void key(Qt::Key k) { QTest::keyClick(QGuiApplication::focusWindow(), k); }
  static std::string focused() { return QApplication::focusWidget()->objectName().toStdString(); }
  // Where the focus stops on each of `n` presses of Tab.
  static Log tab(int n) {
    Log stops;
    while (n-- > 0) key(Qt::Key_Tab), stops.push_back(focused());
    return stops;
  }
};

class QtForms : public QtBackend {
 protected:
  RecordedForm main{M::kLayout};  // the first form made is the main window
  RecordedForm dialog{S::kLayout};
  QWidget *label = main["lblWindow"], *cmdSet = main["cmdSet"], *cmdCount = main["cmdCount"];
  const QPoint blank{39, 10};  // between the label and the settings button
};

TEST_F(QtForms, TablesBecomeFixedWindowsInPixels) {
  for (QWidget* w : {main.window, dialog.window}) {
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    EXPECT_TRUE(w->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(w->windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowStaysOnTopHint));
  }
  EXPECT_EQ(dialog.window->size(), QSize(276, 156));
  EXPECT_EQ(dialog["txtGoal"]->geometry(), QRect(96, 16, 65, 18));  // inside fraCnt
  EXPECT_EQ(label->geometry(), QRect(0, 0, 38, 19));
  EXPECT_EQ(cmdCount->geometry(), QRect(0, 20, 57, 20));

  // Topmost while still hidden, as at load, and again once shown.
  main.form->makeTopmost();
  main.show();
  main.form->makeTopmost();
  EXPECT_TRUE(main.window->isVisible());
  EXPECT_EQ(main.window->windowType(), Qt::Tool);
  EXPECT_TRUE(main.window->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(main.window->geometry(), QRect(3, 18, 56, 40));
}

TEST_F(QtForms, MainWindowMouseAndKeys) {
  main.show();
  // A right press is the button's alone, not the area's behind it. Dragged
  // off the button before the release, or the middle button: nothing.
  mouse(QTest::MouseClick, cmdCount, Qt::RightButton);
  mouse(QTest::MousePress, cmdCount, Qt::LeftButton);
  mouse(QTest::MouseMove, main.window, Qt::NoButton, blank);
  mouse(QTest::MouseRelease, main.window, Qt::LeftButton, blank);
  for (QWidget* w : {cmdCount, cmdSet, label}) mouse(QTest::MouseClick, w, Qt::MiddleButton);
  mouse(QTest::MouseClick, main.window, Qt::MiddleButton, blank);
  EXPECT_EQ(main.take(), Log{"rightPressed cmdCount"});

  for (auto button : {Qt::LeftButton, Qt::RightButton}) {
    mouse(QTest::MouseClick, label, button);
    mouse(QTest::MouseClick, main.window, button, blank);
  }
  // A double click's second press counts on a button only.
  mouse(QTest::MouseDClick, label, Qt::LeftButton);
  mouse(QTest::MouseDClick, cmdCount, Qt::LeftButton);
  EXPECT_EQ(main.take(),
            (Log{"activated lblWindow", "activated form", "activated lblWindow", "activated form",
                 "activated lblWindow", "activated cmdCount", "activated cmdCount"}));

  // The keys go to the focused button; a right press leaves the focus where
  // it was, a left click moves it.
  EXPECT_EQ(focused(), "cmdCount");
  key(Qt::Key_Space);
  key(Qt::Key_Return);
  mouse(QTest::MouseClick, cmdSet, Qt::RightButton);
  key(Qt::Key_Space);
  mouse(QTest::MouseClick, cmdSet, Qt::LeftButton);
  key(Qt::Key_Space);
  EXPECT_EQ(main.take(), (Log{"activated cmdCount", "activated cmdCount", "rightPressed cmdSet",
                              "activated cmdCount", "activated cmdSet", "activated cmdSet"}));
}

TEST_F(QtForms, EnabledTimersTickDisabledNever) {
  for (ControlId timer : {M::tmrClock, M::tmrAlarm, M::tmrLap}) main.form->setEnabled(timer, false);
  main.form->setEnabled(M::tmrAlarm, true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return main.ticks[M::tmrAlarm] >= 2; }, 2500));
  EXPECT_EQ(main.ticks[M::tmrClock] + main.ticks[M::tmrLap], 0);
}

TEST_F(QtForms, DialogKeysAndClose) {
  dialog.show();
  EXPECT_EQ(focused(), "txtGoal");
  key(Qt::Key_Return);
  key(Qt::Key_Escape);
  ASSERT_TRUE(dialog.window->isVisible());
  dialog.form->setFocus(S::cmdReg);
  key(Qt::Key_Return);
  key(Qt::Key_Space);
  EXPECT_EQ(dialog.take(), (Log{"activated cmdReg", "activated cmdReg"}));

  // Only the user's close is reported.
  dialog.form->close();
  EXPECT_FALSE(dialog.window->isVisible());
  QCloseEvent byProgram, byUser;
  QApplication::sendEvent(dialog.window, &byProgram);
  // As the window system delivers the close box (sendEvent clears the flag).
  QSpontaneKeyEvent::setSpontaneous(&byUser);
  QApplication::instance()->notify(dialog.window, &byUser);
  EXPECT_EQ(dialog.take(), Log{"closeRequested"});
}

TEST_F(QtForms, DialogTabOrderAndOptionGroups) {
  Form& f = *dialog.form;
  f.select(S::optLap1);
  f.select(S::optLap1);  // already selected: reported all the same
  f.select(S::optAla0);
  EXPECT_EQ(dialog.take(), (Log{"optionSelected optLap(1)", "optionSelected optLap(1)",
                                "optionSelected optAla(0)"}));

  // One stop per option pair, at its selected member.
  dialog.show();
  EXPECT_EQ(tab(8), (Log{"txtCnt", "optAla(0)", "txtAla(0)", "txtAla(1)", "optLap(1)", "cmdReg",
                         "cmdCan", "txtGoal"}));
  // The arrows move the selection within the focused pair only.
  f.setFocus(S::optAla0);
  key(Qt::Key_Down);
  EXPECT_EQ(dialog.log.back(), "optionSelected optAla(1)");
  // Alarm off: its boxes are disabled and drop out; the stops show what is
  // selected now.
  f.setEnabled(S::txtAla0, false);
  f.setEnabled(S::txtAla1, false);
  EXPECT_EQ(tab(6), (Log{"optLap(1)", "cmdReg", "cmdCan", "txtGoal", "txtCnt", "optAla(1)"}));
}

// With the real dialog: a box's whole text is selected whenever it gets the
// focus, also when a mouse press brings it.
TEST_F(QtBackend, SettingsFocusSelectsWholeTextEvenOnAMousePress) {
  const auto record = thePlatform->programFile("Cnt.arm");
  std::filesystem::remove(record);  // today's record would ask to be restored
  {
    frmMain main(*thePlatform);
    main.open();
    mdlPub::state.goal = 1234;
    bool shown = false;
    whenModal([&](QWidget* dialog) {
      shown = true;
      // The dialog counts as active while its owner is: wait for it itself.
      ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dialog; }));
      auto* goal = dialog->findChild<QLineEdit*>("txtGoal");
      key(Qt::Key_Tab);
      const QPoint nearStart(3, goal->height() / 2);  // a plain press puts the cursor here
      mouse(QTest::MouseClick, goal, Qt::LeftButton, nearStart);
      EXPECT_EQ(goal->selectedText(), "1234");
      mouse(QTest::MouseClick, dialog->findChild<QWidget*>("cmdCan"), Qt::LeftButton);
    });
    frmSet::showModal(*thePlatform, main);
    EXPECT_TRUE(shown);
  }
  std::filesystem::remove(record);
}

// Shows a box, checks how it looks and clicks the button labelled `press`.
MsgAnswer box(MsgIcon icon, B buttons, Q::Icon look, const QString& press) {
  whenModal([&](QWidget* modal) {
    auto* box = qobject_cast<Q*>(modal);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle() + "|" + box->text(), "題名|本文です");
    EXPECT_EQ(box->icon(), look);
    QStringList seen;
    for (QAbstractButton* b : box->buttons()) seen << b->text();
    seen.sort();
    EXPECT_EQ(seen, (buttons == B::Ok ? QStringList{"OK"} : QStringList{"いいえ(&N)", "はい(&Y)"}));
    for (QAbstractButton* b : box->buttons())
      if (b->text() == press) QTest::mouseClick(b, Qt::LeftButton);
  });
  return thePlatform->messageBox("本文です", "題名", icon, buttons);
}

TEST(QtServices, MessageBoxesAndProgramFile) {
  EXPECT_EQ(box(MsgIcon::Warning, B::Ok, Q::Warning, "OK"), MsgAnswer::Ok);
  EXPECT_EQ(box(MsgIcon::Question, B::YesNo, Q::Question, "はい(&Y)"), MsgAnswer::Yes);
  EXPECT_EQ(box(MsgIcon::Question, B::YesNo, Q::Question, "いいえ(&N)"), MsgAnswer::No);

  const std::filesystem::path file = thePlatform->programFile("Cnt.arm");
  EXPECT_EQ(file.filename(), "Cnt.arm");
  EXPECT_EQ(std::filesystem::canonical(file.parent_path()),
            std::filesystem::canonical(QCoreApplication::applicationDirPath().toStdString()));
}

}  // namespace
}  // namespace tallimo::qttest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);  // no display: chosen before Qt starts
  // The platform owns the QApplication, so it lives for the whole run.
  const auto platform = tallimo::qt::createPlatform(argc, argv);
  tallimo::qttest::thePlatform = platform.get();
  return platform ? RUN_ALL_TESTS() : 1;
}
