// The Qt backend on the offscreen platform: what the layout tables become,
// which notifications real mouse and keyboard input turns into, the own
// caption and the message boxes.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>

#include "frmMain/frmMain.h"
#include "frmSet/frmSet.h"
#include "platform/qt/QtPlatform.h"

namespace tallimo::qttest {
namespace {

Platform* thePlatform = nullptr;  // created in main()
using Log = std::vector<std::string>;
using M = frmMain;
using S = frmSet;

// A form made from a real layout table, logging notifications by control
// name ("activated cmdCount"); timer ticks are only counted.
struct RecordedForm final : FormEvents {
  explicit RecordedForm(const FormSpec& s) : spec(s), form(thePlatform->createForm(s, *this)) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName().toStdString() == s.name) window = w;
  }
  void activated(ControlId id) override { add("activated ", id); }
  void rightPressed(ControlId id) override { add("rightPressed ", id); }
  void optionSelected(ControlId id) override { add("optionSelected ", id); }
  void focusEntered(ControlId id) override { form->setSelection(id, 0, 99); }  // as frmSet does
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
  QWidget* window = nullptr;
};

// Runs `body` once the next modal window is up and closes what it leaves
// open, so that a failed check cannot hang the run.
void whenModal(std::function<void(QWidget*)> body, int tries = 0) {
  QTimer::singleShot(0, [body = std::move(body), tries]() mutable {
    QPointer<QWidget> modal = QApplication::activeModalWidget();
    if (!modal && tries < 1000) return whenModal(std::move(body), tries + 1);
    if (!modal) return ADD_FAILURE() << "no modal window appeared";
    body(modal);
    auto* dialog = qobject_cast<QDialog*>(modal.data());
    if (dialog && dialog->isVisible()) dialog->done(0), ADD_FAILURE() << "modal window left open";
  });
}

// Mouse input given to the window at the spot where `w` lies, so that Qt
// picks the receiver, grabs the mouse and detects double clicks.
void mouse(QTest::MouseAction action, QWidget* w, Qt::MouseButton button, QPoint at = {}) {
  at = w->mapTo(w->window(), at.isNull() ? w->rect().center() : at);
  QTest::mouseEvent(action, w->window()->windowHandle(), button, {}, at);
}
void key(Qt::Key k, Qt::KeyboardModifiers mods = {}) {
  QTest::keyClick(QGuiApplication::focusWindow(), k, mods);
}
std::string focused() {
  return QApplication::focusWidget()->objectName().toStdString();
}
Log tab(int n) {
  Log stops;
  while (n-- > 0) key(Qt::Key_Tab), stops.push_back(focused());
  return stops;
}

class QtForms : public ::testing::Test {
 protected:
  RecordedForm main{M::kLayout};  // the first form made is the main window
  RecordedForm dialog{S::kLayout};
  QWidget *client = main["client"], *label = main["lblWindow"], *cmdSet = main["cmdSet"],
          *cmdCount = main["cmdCount"], *caption = main["caption"];
  const QPoint blank{39, 10};  // between the label and the settings button
};

TEST_F(QtForms, TablesBecomeFixedWindowsWithNamesAndTheirOwnFonts) {
  EXPECT_EQ(dialog.window->size(), QSize(276, 156));
  EXPECT_EQ(dialog["txtGoal"]->geometry(), QRect(96, 16, 65, 18));  // inside fraCnt
  EXPECT_EQ(cmdCount->geometry(), QRect(0, 20, 57, 20));
  // A caption of our own around the client area (its place on screen is
  // the system scenarios' to check); the dialog keeps the desktop's frame.
  main.show();
  EXPECT_EQ(client->geometry(), QRect(3, 18, 56, 40));
  EXPECT_EQ(dialog.window->windowFlags() & Qt::FramelessWindowHint, 0);

  EXPECT_EQ(main.window->accessibleName(), "Tallimo");
  EXPECT_EQ(cmdSet->accessibleName() + cmdCount->accessibleDescription(), "設定1 件数える");
  EXPECT_EQ(static_cast<QLabel*>(dialog["Label(1)"])->buddy(), dialog["txtCnt"]);
  EXPECT_EQ(dialog["txtAla(1)"]->accessibleName(), "アラームの分");
  // Said without moving the focus: the focused button's description, and a
  // notification, which is what Orca speaks under Qt 6.4.
  main.form->setDescription(M::cmdCount, "3件");
  EXPECT_EQ(cmdCount->accessibleDescription() + main["announcement"]->accessibleName(), "3件3件");

  // A desktop theme's wide fonts must not reach the fixed layout.
  QFont wide("DejaVu Sans", 16);
  for (const char* cls : {"QPushButton", "QRadioButton", "QGroupBox", "QLabel"})
    QApplication::setFont(wide, cls);
  RecordedForm themed{S::kLayout};
  for (const RecordedForm* f : {&main, &themed}) {
    for (QWidget* w : f->window->findChildren<QWidget*>()) {
      QString text;
      int room = w->width();
      if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        text = b->text();
        room -= qobject_cast<QRadioButton*>(w) ? 20 : 4;
      } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        text = g->title(), room -= 12;
      } else if (auto* l = qobject_cast<QLabel*>(w)) {
        text = l->text();
      }
      EXPECT_LE(w->fontMetrics().horizontalAdvance(text), room) << text.toStdString();
    }
  }
}

TEST_F(QtForms, MainWindowMouseAndKeys) {
  main.show();
  // A right press is the button's alone, not the area's behind it. Dragged
  // off the button before the release, or the middle button: nothing.
  mouse(QTest::MouseClick, cmdCount, Qt::RightButton);
  mouse(QTest::MousePress, cmdCount, Qt::LeftButton);
  mouse(QTest::MouseMove, client, Qt::NoButton, blank);
  mouse(QTest::MouseRelease, client, Qt::LeftButton, blank);
  for (QWidget* w : {cmdCount, cmdSet, label}) mouse(QTest::MouseClick, w, Qt::MiddleButton);
  mouse(QTest::MouseClick, client, Qt::MiddleButton, blank);
  mouse(QTest::MouseClick, main.window, Qt::LeftButton, {1, 40});  // the border is no blank area
  EXPECT_EQ(main.take(), Log{"rightPressed cmdCount"});

  for (auto button : {Qt::LeftButton, Qt::RightButton}) {
    mouse(QTest::MouseClick, label, button);
    mouse(QTest::MouseClick, client, button, blank);
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

TEST_F(QtForms, OwnCaptionMovesTheWindowWhereNoWindowManagerDoes) {
  main.show();
  // No window manager moves it here, so the strip does it itself.
  mouse(QTest::MousePress, caption, Qt::LeftButton, {20, 9});
  mouse(QTest::MouseMove, caption, Qt::LeftButton, {50, 29});
  mouse(QTest::MouseRelease, caption, Qt::LeftButton, {20, 9});  // under the pointer again
  EXPECT_EQ(main.window->pos(), QPoint(30, 20));
  // The close box is the system scenarios' to press.
  EXPECT_EQ(main.take(), Log{});
}

TEST_F(QtForms, EnabledTimersTickDisabledNever) {
  for (ControlId timer : {M::tmrClock, M::tmrAlarm, M::tmrLap}) main.form->setEnabled(timer, false);
  main.form->setEnabled(M::tmrAlarm, true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return main.ticks[M::tmrAlarm] >= 2; }, 2500));
  EXPECT_EQ(main.ticks[M::tmrClock] + main.ticks[M::tmrLap], 0);
}

TEST_F(QtForms, DialogKeysTabOrderAndOptionGroups) {
  Form& f = *dialog.form;
  dialog.show();
  f.select(S::optLap1);
  f.select(S::optLap1);  // already selected: reported all the same
  f.select(S::optAla0);
  EXPECT_EQ(focused(), "txtGoal");
  key(Qt::Key_Return);
  key(Qt::Key_Escape);
  ASSERT_TRUE(dialog.window->isVisible());
  // A box's whole text is selected when it gets the focus, also when a mouse
  // press that would put the cursor near its start brings it.
  f.setText(S::txtGoal, "1234");
  key(Qt::Key_Tab);
  auto* goal = static_cast<QLineEdit*>(dialog["txtGoal"]);
  mouse(QTest::MouseClick, goal, Qt::LeftButton, {3, goal->height() / 2});
  EXPECT_EQ(goal->selectedText(), "1234");
  key(Qt::Key_Tab);
  // One stop per option pair, at its selected member.
  EXPECT_EQ(tab(7), (Log{"optAla(0)", "txtAla(0)", "txtAla(1)", "optLap(1)", "cmdReg", "cmdCan",
                         "txtGoal"}));
  // The arrows move the selection within the focused pair only.
  f.setFocus(S::optAla0);
  key(Qt::Key_Down);
  // Alarm off: its boxes are disabled and drop out.
  f.setEnabled(S::txtAla0, false);
  f.setEnabled(S::txtAla1, false);
  EXPECT_EQ(tab(3), (Log{"optLap(1)", "cmdReg", "cmdCan"}));
  key(Qt::Key_Return);
  key(Qt::Key_Space);
  EXPECT_EQ(dialog.take(),
            (Log{"optionSelected optLap(1)", "optionSelected optLap(1)", "optionSelected optAla(0)",
                 "optionSelected optAla(1)", "activated cmdCan", "activated cmdCan"}));
}

// Escape and the close box answer nothing in a question, and mean OK in an
// OK box; only the buttons answer a question.
TEST(QtServices, MessageBoxes) {
  const auto show = [](MsgButtons buttons, std::function<void(QMessageBox*)> user) {
    whenModal([user](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_TRUE(box && box->windowTitle() + box->text() == "題名本文");
      QTest::keyClick(box, Qt::Key_Escape);
      QCloseEvent closeBox;
      QSpontaneKeyEvent::setSpontaneous(&closeBox);
      QApplication::instance()->notify(box, &closeBox);
      if (box->isVisible()) user(box);
      EXPECT_TRUE(
          QTest::qWaitFor([box] { return !box->isVisible(); }));  // a mnemonic clicks after a while
    });
    return thePlatform->messageBox("本文", "題名", MsgIcon::Question, buttons);
  };
  EXPECT_EQ(show(MsgButtons::Ok, [](QMessageBox*) { ADD_FAILURE() << "Escape left it open"; }),
            MsgAnswer::Ok);
  EXPECT_EQ(show(MsgButtons::YesNo, [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Y); }),
            MsgAnswer::Yes);
  EXPECT_EQ(show(MsgButtons::YesNo, [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_N); }),
            MsgAnswer::No);
}

}  // namespace
}  // namespace tallimo::qttest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);  // no display: chosen before Qt starts
  unsetenv("XDG_RUNTIME_DIR");                // test processes run side by side
  int status = 1;
  // The platform owns the QApplication, so it lives for the whole run.
  const auto platform = tallimo::qt::createPlatform(argc, argv, status);
  tallimo::qttest::thePlatform = platform.get();
  return platform ? RUN_ALL_TESTS() : status;
}
