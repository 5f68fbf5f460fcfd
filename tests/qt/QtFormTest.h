#pragma once

// Shared pieces of the Qt backend tests: a FormEvents that logs what the
// backend reports, lookups of the widgets a layout table became, and input
// that travels through the window as real input does.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace tallimo::qttest {

// The one platform of the test run, created in main().
Platform& platform();

using Log = std::vector<std::string>;

// Logs every notification by control name ("activated cmdCount",
// "focusEntered txtAla(0)"); timer ticks are only counted, since they arrive
// whenever the clock says so.
class Recorder final : public FormEvents {
 public:
  explicit Recorder(const FormSpec& spec) : spec_(spec) {}

  void activated(ControlId id) override { log_.push_back("activated " + name(id)); }
  void rightPressed(ControlId id) override { log_.push_back("rightPressed " + name(id)); }
  void focusEntered(ControlId id) override { log_.push_back("focusEntered " + name(id)); }
  void optionSelected(ControlId id) override { log_.push_back("optionSelected " + name(id)); }
  void timerTick(ControlId id) override { ++ticks[id]; }
  void closeRequested() override { log_.push_back("closeRequested"); }

  // What was logged since the last call.
  Log take() { return std::exchange(log_, {}); }
  std::map<ControlId, int> ticks;

 private:
  std::string name(ControlId id) const {
    if (id == kFormArea) return "form";
    const ControlSpec& c = spec_.controls[static_cast<std::size_t>(id)];
    std::string n(c.name);
    return c.index < 0 ? n : n + "(" + std::to_string(c.index) + ")";
  }

  const FormSpec& spec_;
  Log log_;
};

// The top-level widget of the form named `name`.
inline QWidget* windowNamed(std::string_view name) {
  const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == wanted) return w;
  return nullptr;
}

// Mouse input given to the window at the spot where `w` lies (its centre
// unless `local` says otherwise), so that Qt picks the receiver, grabs the
// mouse on a press and turns a quick second press into a double-click.
inline void mouse(QTest::MouseAction action, QWidget* w, Qt::MouseButton button,
                  QPoint local = {}) {
  QWidget* window = w->window();
  const QPoint at = w->mapTo(window, local.isNull() ? w->rect().center() : local);
  QTest::mouseEvent(action, window->windowHandle(), button, {}, at);
}

// A key pressed and released wherever the keyboard focus is.
inline void key(Qt::Key k) {
  QWindow* focus = QGuiApplication::focusWindow();
  ASSERT_NE(focus, nullptr) << "no window has the keyboard focus";
  QTest::keyClick(focus, k);
}

// Runs `body` once the next modal window is up (boxes and dialogs block in
// a loop of their own); closes what `body` leaves open, so a failed check
// cannot hang the run.
inline void whenModal(std::function<void(QWidget*)> body, int tries = 0) {
  QTimer::singleShot(0, [body = std::move(body), tries]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
      if (tries < 1000) return whenModal(std::move(body), tries + 1);
      ADD_FAILURE() << "no modal window appeared";
      return;
    }
    QPointer<QDialog> guard(qobject_cast<QDialog*>(modal));
    body(modal);
    if (guard && guard->isVisible()) {
      ADD_FAILURE() << "the modal window was left open";
      guard->reject();
    }
  });
}

// A form built from a real layout table, reporting to a Recorder.
class RecordedForm {
 public:
  explicit RecordedForm(const FormSpec& spec)
      : events(spec), form(platform().createForm(spec, events)), window(windowNamed(spec.name)) {}

  // Shows the form and waits until it has the keyboard.
  bool showActive() {
    form->show();
    return QTest::qWaitForWindowActive(window);
  }
  QWidget* operator[](const char* name) const { return window->findChild<QWidget*>(name); }

  Recorder events;
  std::unique_ptr<Form> form;
  QWidget* window;
};

}  // namespace tallimo::qttest
