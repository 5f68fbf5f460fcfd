// The settings dialog's layout table on the Qt backend, and the real dialog's
// select-all on focus.

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QSpontaneKeyEvent>
#include <filesystem>

#include "core/CounterState.h"
#include "frmMain/frmMain.h"
#include "frmSet/frmSet.h"
#include "tests/qt/QtFormTest.h"

namespace tallimo::qttest {
namespace {

using S = frmSet;

class QtSettingsDialog : public ::testing::Test {
 protected:
  void show() {
    ASSERT_TRUE(dialog.showActive());
    dialog.events.take();
  }
  Log take() { return dialog.events.take(); }
  Form& form() { return *dialog.form; }
  static std::string focused() {
    QWidget* w = QApplication::focusWidget();
    return w ? w->objectName().toStdString() : "(none)";
  }
  // Where the focus stops on each of `times` presses of Tab.
  Log tab(int times) {
    Log stops;
    for (int i = 0; i < times; ++i) {
      key(Qt::Key_Tab);
      stops.push_back(focused());
    }
    return stops;
  }

  // The first form made is taken for the program's main window; the dialog
  // must not be it.
  RecordedForm owner{frmMain::kLayout};
  RecordedForm dialog{S::kLayout};
};

TEST_F(QtSettingsDialog, TableBecomesFixedDialogWithFramedControls) {
  QWidget* window = dialog.window;
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->size(), QSize(276, 156));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_EQ(window->windowType(), Qt::Dialog);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMinMaxButtonsHint);

  QWidget* goal = dialog["txtGoal"];
  ASSERT_NE(goal, nullptr);
  EXPECT_EQ(goal->parentWidget(), dialog["fraCnt"]);
  EXPECT_EQ(goal->geometry(), QRect(96, 16, 65, 18));
}

TEST_F(QtSettingsDialog, EscapeAndEnterNeitherCloseNorConfirm) {
  show();
  EXPECT_EQ(focused(), "txtGoal");
  key(Qt::Key_Escape);
  key(Qt::Key_Return);
  key(Qt::Key_Enter);
  EXPECT_TRUE(dialog.window->isVisible());
  EXPECT_EQ(take(), Log{});

  // Enter confirms only from the focused button itself.
  form().setFocus(S::cmdReg);
  EXPECT_EQ(focused(), "cmdReg");
  key(Qt::Key_Return);
  key(Qt::Key_Space);
  key(Qt::Key_Escape);
  EXPECT_EQ(take(), (Log{"activated cmdReg", "activated cmdReg"}));
  EXPECT_TRUE(dialog.window->isVisible());
}

TEST_F(QtSettingsDialog, TabVisitsSelectedOptionsAndEnabledBoxesInOrderReportingFocus) {
  form().select(S::optAla0);
  form().select(S::optLap1);
  show();
  EXPECT_EQ(focused(), "txtGoal");
  EXPECT_EQ(tab(8), (Log{"txtCnt", "optAla(0)", "txtAla(0)", "txtAla(1)", "optLap(1)", "cmdReg",
                         "cmdCan", "txtGoal"}));
  EXPECT_EQ(take(), (Log{"focusEntered txtCnt", "focusEntered txtAla(0)", "focusEntered txtAla(1)",
                         "focusEntered txtGoal"}));

  // Alarm off: the boxes are disabled and the other member is the stop.
  form().setEnabled(S::txtAla0, false);
  form().setEnabled(S::txtAla1, false);
  form().select(S::optAla1);
  EXPECT_EQ(tab(6), (Log{"txtCnt", "optAla(1)", "optLap(1)", "cmdReg", "cmdCan", "txtGoal"}));

  // The mouse brings the focus too; a click in the focused box does not.
  take();
  mouse(QTest::MouseClick, dialog["txtCnt"], Qt::LeftButton);
  mouse(QTest::MouseClick, dialog["txtCnt"], Qt::LeftButton);
  EXPECT_EQ(take(), Log{"focusEntered txtCnt"});
}

TEST_F(QtSettingsDialog, OptionPairsAreSeparateGroupsReportingEverySelection) {
  form().select(S::optLap1);
  form().select(S::optLap1);  // already selected: reported all the same
  form().select(S::optAla0);
  EXPECT_EQ(take(), (Log{"optionSelected optLap(1)", "optionSelected optLap(1)",
                         "optionSelected optAla(0)"}));
  EXPECT_TRUE(form().isSelected(S::optLap1));

  form().select(S::optLap0);
  EXPECT_EQ(take(), Log{"optionSelected optLap(0)"});
  EXPECT_FALSE(form().isSelected(S::optLap1));
  EXPECT_TRUE(form().isSelected(S::optAla0));

  // The arrows move the selection within the focused pair only.
  show();
  form().setFocus(S::optAla0);
  key(Qt::Key_Down);
  EXPECT_EQ(take(), Log{"optionSelected optAla(1)"});
  EXPECT_EQ(focused(), "optAla(1)");
  EXPECT_TRUE(form().isSelected(S::optAla1));
  EXPECT_FALSE(form().isSelected(S::optAla0));
  EXPECT_TRUE(form().isSelected(S::optLap0));
  key(Qt::Key_Up);
  EXPECT_EQ(take(), Log{"optionSelected optAla(0)"});
  EXPECT_EQ(focused(), "optAla(0)");
}

TEST_F(QtSettingsDialog, OnlyTheUsersCloseIsReported) {
  show();
  form().close();
  EXPECT_FALSE(dialog.window->isVisible());
  EXPECT_EQ(take(), Log{});

  show();
  QCloseEvent byProgram;
  QApplication::sendEvent(dialog.window, &byProgram);
  EXPECT_EQ(take(), Log{});

  // What the window system delivers for the close box (sendEvent would
  // clear the flag).
  show();
  QCloseEvent byUser;
  QSpontaneKeyEvent::setSpontaneous(&byUser);
  QApplication::instance()->notify(dialog.window, &byUser);
  EXPECT_EQ(take(), Log{"closeRequested"});
}

// With the real dialog on top: the whole text is selected whenever a box
// gets the focus, also when a mouse press brings it.
TEST(QtSettingsDialogLogic, FocusSelectsWholeTextEvenOnAMousePress) {
  const auto record = platform().programFile("Cnt.arm");
  std::filesystem::remove(record);
  mdlPub::state = {};
  {
    frmMain main(platform());
    main.open();
    QWidget* mainWindow = windowNamed("frmMain");
    ASSERT_TRUE(QTest::qWaitForWindowActive(mainWindow));
    mdlPub::state.goal = 1234;
    mdlPub::state.count = 56;

    bool shown = false;
    whenModal([&](QWidget* dialog) {
      shown = true;
      ASSERT_EQ(dialog->objectName(), "frmSet");
      // The dialog's window counts as active while its owner is, so wait
      // for the dialog itself.
      ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dialog; }));
      auto* goal = dialog->findChild<QLineEdit*>("txtGoal");
      auto* count = dialog->findChild<QLineEdit*>("txtCnt");
      ASSERT_TRUE(goal && count);

      EXPECT_TRUE(goal->hasFocus());
      EXPECT_EQ(goal->selectedText(), "1234");
      key(Qt::Key_Tab);
      EXPECT_TRUE(count->hasFocus());
      EXPECT_EQ(count->selectedText(), "56");

      // Near the left end, where a plain press would put the cursor.
      const QPoint nearStart(3, goal->height() / 2);
      mouse(QTest::MouseClick, goal, Qt::LeftButton, nearStart);
      EXPECT_TRUE(goal->hasFocus());
      EXPECT_EQ(goal->selectedText(), "1234");
      // Once it has the focus, a click places the cursor as usual.
      mouse(QTest::MouseClick, goal, Qt::LeftButton, nearStart);
      EXPECT_EQ(goal->selectedText(), "");

      mouse(QTest::MouseClick, dialog->findChild<QWidget*>("cmdCan"), Qt::LeftButton);
    });
    mouse(QTest::MouseClick, mainWindow->findChild<QWidget*>("cmdSet"), Qt::LeftButton);
    EXPECT_TRUE(shown);
    EXPECT_EQ(windowNamed("frmSet"), nullptr);
  }
  std::filesystem::remove(record);
}

}  // namespace
}  // namespace tallimo::qttest
