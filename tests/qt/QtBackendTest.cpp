// The Qt backend on the offscreen platform, where only Qt can go wrong: its
// fonts, the own caption without a window manager, and the dialog's option
// groups. How each window looks is the system scenarios' to see.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QGroupBox>
#include <QRadioButton>
#include <QStyle>
#include <QTest>

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
// name ("activated cmdCount").
struct RecordedForm final : FormEvents {
  explicit RecordedForm(const FormSpec& s) : spec(s), form(thePlatform->createForm(s, *this)) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName().toStdString() == s.name) window = w;
  }
  void activated(ControlId id) override { add("activated ", id); }
  void optionSelected(ControlId id) override { add("optionSelected ", id); }
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
  std::unique_ptr<Form> form;
  QWidget* window = nullptr;
};

// Mouse input given to the window at the spot where `w` lies, so that Qt
// picks the receiver, grabs the mouse and detects double clicks.
void mouse(QTest::MouseAction action, QWidget* w, Qt::MouseButton button, QPoint at = {}) {
  at = w->mapTo(w->window(), at.isNull() ? w->rect().center() : at);
  QTest::mouseEvent(action, w->window()->windowHandle(), button, {}, at);
}

class QtForms : public ::testing::Test {
 protected:
  RecordedForm main{M::kLayout};  // the first form made is the main window
  RecordedForm dialog{S::kLayout};
  QWidget *label = main["lblWindow"], *caption = main["caption"];
};

// Names, places and sizes are the system scenarios' to check, through the
// window manager and the accessibility bus; fonts are Qt's business alone.
TEST_F(QtForms, OwnFontsThatNoThemeReaches) {
  // The layout's Windows face becomes an installed Japanese monospaced one.
  const QFontMetrics gothic(label->font());
  EXPECT_TRUE(QFontDatabase::writingSystems(QFontInfo(label->font()).family())
                  .contains(QFontDatabase::Japanese) &&
              gothic.horizontalAdvance("i") == gothic.horizontalAdvance("W"));
  // A desktop theme's style and wide fonts must not reach the fixed layout.
  EXPECT_EQ(QApplication::style()->name().toStdString(), "fusion");
  QFont wide("DejaVu Sans", 16);
  for (const char* cls : {"QPushButton", "QRadioButton", "QGroupBox", "QLabel"})
    QApplication::setFont(wide, cls);
  RecordedForm themed{S::kLayout};
  for (const RecordedForm* f : {&main, &themed}) {
    for (QWidget* w : f->window->findChildren<QWidget*>()) {  // room for a mark or a frame
      const int room = w->width() - (qobject_cast<QRadioButton*>(w)      ? 20
                                     : qobject_cast<QAbstractButton*>(w) ? 4
                                     : qobject_cast<QGroupBox*>(w)       ? 12
                                                                         : 0);
      const QString text = w->property("text").toString() + w->property("title").toString();
      EXPECT_LE(w->fontMetrics().horizontalAdvance(text), room) << text.toStdString();
    }
  }
}

TEST_F(QtForms, OwnCaptionMovesTheWindowWhereNoWindowManagerDoesAndDrawsItsCloseBox) {
  main.show();
  // No window manager moves it here, so the strip does it itself.
  mouse(QTest::MousePress, caption, Qt::LeftButton, {20, 9});
  mouse(QTest::MouseMove, caption, Qt::LeftButton, {50, 29});
  mouse(QTest::MouseRelease, caption, Qt::LeftButton, {20, 9});  // under the pointer again
  mouse(QTest::MousePress, caption, Qt::RightButton, {20, 9});   // nor is the drag still on
  mouse(QTest::MouseMove, caption, Qt::RightButton, {50, 29});
  EXPECT_EQ(main.window->pos(), QPoint(30, 20));
  QTest::keyClick(main.window, Qt::Key_F4);  // F4 alone closes nothing
  EXPECT_EQ(main.take(), Log{});
  // The system scenarios press its close box and see how it looks; pressed, it
  // is dark inside its frame.
  caption->findChild<QAbstractButton*>()->setDown(true);
  const QImage shot = main.window->grab().toImage();
  const QColor ink = caption->palette().color(QPalette::HighlightedText);
  const std::vector<QRgb> diagonal{shot.pixel(47, 4), shot.pixel(57, 14), shot.pixel(58, 15)};
  EXPECT_EQ(diagonal, (std::vector<QRgb>{ink.darker(130).rgb(), ink.darker(130).rgb(), ink.rgb()}));
  // Nor does any window manager take Alt+F4 from it.
  QTest::keyClick(main.window, Qt::Key_F4, Qt::AltModifier);
  EXPECT_EQ(main.take(), Log{"closeRequested"});
}

TEST_F(QtForms, OptionsFormAGroupPerFrameTakeTabWhenSelectedAndReportEverySelection) {
  Form& f = *dialog.form;
  f.select(S::optLap1);
  dialog.show();
  // Tab passes a pair with nothing selected yet, and stops at the other's selected member.
  std::string tabbed;
  for (int i = 0; i < 7; ++i, QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab))
    tabbed += QApplication::focusWidget()->objectName().toStdString() + " ";
  EXPECT_EQ(tabbed, "txtGoal txtCnt txtAla(0) txtAla(1) optLap(1) cmdReg cmdCan ");
  for (ControlId id : {S::optLap1, S::optAla0}) f.select(id);  // again: reported again
  EXPECT_TRUE(f.isSelected(S::optLap1) && f.isSelected(S::optAla0) && !f.isSelected(S::optLap0));
  EXPECT_EQ(dialog.take(), (Log{"optionSelected optLap(1)", "optionSelected optAla(0)"}));
}

}  // namespace
}  // namespace tallimo::qttest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);  // no display: chosen before Qt starts
  setenv("QT_STYLE_OVERRIDE", "windows", 1);  // a desktop's own style
  int status = 1;
  // The platform owns the QApplication, so it lives for the whole run.
  auto platform = tallimo::qt::createPlatform(argc, argv, nullptr, status);
  tallimo::qttest::thePlatform = platform.get();
  return platform ? RUN_ALL_TESTS() : 1;
}
