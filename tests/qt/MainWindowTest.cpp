// The main window's layout table on the Qt backend: what widgets it becomes
// and which notifications real mouse and keyboard input turns into.

#include <QApplication>
#include <QElapsedTimer>

#include "frmMain/frmMain.h"
#include "tests/qt/QtFormTest.h"

namespace tallimo::qttest {
namespace {

using M = frmMain;

class QtMainWindow : public ::testing::Test {
 protected:
  void show() {
    ASSERT_TRUE(main.showActive());
    main.events.take();
  }
  Log take() { return main.events.take(); }

  RecordedForm main{M::kLayout};
  QWidget* window = main.window;
  QWidget* label = main["lblWindow"];
  QWidget* cmdSet = main["cmdSet"];
  QWidget* cmdCount = main["cmdCount"];
  const QPoint blank{39, 10};  // between the label and the settings button
};

TEST_F(QtMainWindow, TableBecomesFixedTopmostToolWindowInPixels) {
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(label && cmdSet && cmdCount);
  EXPECT_EQ(window->size(), QSize(56, 40));
  EXPECT_EQ(window->minimumSize(), QSize(56, 40));
  EXPECT_EQ(window->maximumSize(), QSize(56, 40));
  EXPECT_EQ(label->geometry(), QRect(0, 0, 38, 19));
  EXPECT_EQ(cmdSet->geometry(), QRect(40, 1, 17, 17));
  EXPECT_EQ(cmdCount->geometry(), QRect(0, 20, 57, 20));

  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_EQ(window->windowType(), Qt::Tool);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & (Qt::WindowMinMaxButtonsHint | Qt::WindowStaysOnTopHint));

  // The load step's order: topmost while still hidden, then shown where the
  // table places the client area.
  main.form->makeTopmost();
  show();
  EXPECT_EQ(window->windowFlags() & ~Qt::WindowStaysOnTopHint, flags);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(window->geometry(), QRect(3, 18, 56, 40));

  // Made topmost again once shown: it stays shown and in place.
  main.form->makeTopmost();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->geometry(), QRect(3, 18, 56, 40));
}

TEST_F(QtMainWindow, ButtonsCountOnClickTakeOnRightPressIgnoreMiddle) {
  show();
  mouse(QTest::MouseClick, cmdCount, Qt::LeftButton);
  EXPECT_EQ(take(), Log{"activated cmdCount"});

  // On the press; the release adds nothing, and the press must not reach
  // the blank area behind the button.
  for (QWidget* button : {cmdCount, cmdSet}) {
    const std::string name = button->objectName().toStdString();
    mouse(QTest::MousePress, button, Qt::RightButton);
    EXPECT_EQ(take(), Log{"rightPressed " + name});
    mouse(QTest::MouseRelease, button, Qt::RightButton);
    EXPECT_EQ(take(), Log{});
  }

  // Pressed on the button, dragged off and released over the blank area.
  mouse(QTest::MousePress, cmdCount, Qt::LeftButton);
  mouse(QTest::MouseMove, window, Qt::NoButton, blank);
  mouse(QTest::MouseRelease, window, Qt::LeftButton, blank);
  EXPECT_EQ(take(), Log{});

  // The middle button does nothing anywhere.
  mouse(QTest::MouseClick, cmdCount, Qt::MiddleButton);
  mouse(QTest::MouseClick, cmdSet, Qt::MiddleButton);
  mouse(QTest::MouseClick, label, Qt::MiddleButton);
  mouse(QTest::MouseClick, window, Qt::MiddleButton, blank);
  EXPECT_EQ(take(), Log{});
}

TEST_F(QtMainWindow, LabelAndBlankAreaCountOnEitherButtonAndDoubleClickOnce) {
  show();
  for (auto button : {Qt::LeftButton, Qt::RightButton}) {
    mouse(QTest::MouseClick, label, button);
    mouse(QTest::MouseClick, window, button, blank);
    EXPECT_EQ(take(), (Log{"activated lblWindow", "activated form"})) << button;
  }

  // The second press of a double click has no handler on the label and the
  // blank area; a button takes every press and release.
  mouse(QTest::MouseDClick, label, Qt::LeftButton);
  EXPECT_EQ(take(), Log{"activated lblWindow"});
  mouse(QTest::MouseDClick, window, Qt::LeftButton, blank);
  EXPECT_EQ(take(), Log{"activated form"});
  mouse(QTest::MouseDClick, cmdCount, Qt::LeftButton);
  EXPECT_EQ(take(), (Log{"activated cmdCount", "activated cmdCount"}));
}

TEST_F(QtMainWindow, KeysActivateTheFocusedButtonOnly) {
  show();
  EXPECT_EQ(QApplication::focusWidget(), cmdCount);
  key(Qt::Key_Space);
  key(Qt::Key_Return);
  key(Qt::Key_Enter);
  EXPECT_EQ(take(), (Log{"activated cmdCount", "activated cmdCount", "activated cmdCount"}));

  // A right press takes one away but leaves the focus where it was.
  mouse(QTest::MouseClick, cmdSet, Qt::RightButton);
  EXPECT_EQ(QApplication::focusWidget(), cmdCount);
  key(Qt::Key_Space);
  EXPECT_EQ(take(), (Log{"rightPressed cmdSet", "activated cmdCount"}));

  // A left click moves it, so the keys then open the settings.
  mouse(QTest::MouseClick, cmdSet, Qt::LeftButton);
  EXPECT_EQ(QApplication::focusWidget(), cmdSet);
  key(Qt::Key_Space);
  EXPECT_EQ(take(), (Log{"activated cmdSet", "activated cmdSet"}));
}

TEST(QtTimers, EnabledTimerTicksEverySecondDisabledNever) {
  RecordedForm main(M::kLayout);
  // The table starts all three; stop them and start one again.
  for (ControlId timer : {M::tmrClock, M::tmrAlarm, M::tmrLap}) main.form->setEnabled(timer, false);
  main.form->setEnabled(M::tmrAlarm, true);

  auto& ticks = main.events.ticks;
  QElapsedTimer elapsed;
  elapsed.start();
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks[M::tmrAlarm] >= 2; }, 2500));
  EXPECT_GE(elapsed.elapsed(), 950) << "two ticks came faster than a second apart";
  EXPECT_EQ(ticks[M::tmrAlarm], 2);
  EXPECT_EQ(ticks[M::tmrClock], 0);
  EXPECT_EQ(ticks[M::tmrLap], 0);
}

}  // namespace
}  // namespace tallimo::qttest
