#pragma once

// The widgets a layout table turns into, each reporting to its form.

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>

#include "platform/Platform.h"

namespace tallimo::qt {

class QtForm;

// A press and release of the left or right button over a label or the
// blank area is one activation. The second press of a quick double press
// arrives as a double-click, which has no handler, so it counts once.
class ClickTracker {
 public:
  void press(QMouseEvent* e);
  void doubleClick(QMouseEvent* e);
  bool release(QMouseEvent* e, const QRect& area);

 private:
  Qt::MouseButton pressed_ = Qt::NoButton;
};

class Label final : public QLabel {
 public:
  Label(QtForm& form, ControlId id, QWidget* parent);

 protected:
  void mousePressEvent(QMouseEvent* e) override { clicks_.press(e); }
  void mouseDoubleClickEvent(QMouseEvent* e) override { clicks_.doubleClick(e); }
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QtForm& form_;
  ControlId id_;
  ClickTracker clicks_;
};

class Button final : public QPushButton {
 public:
  Button(QtForm& form, ControlId id, QWidget* parent);

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  QtForm& form_;
  ControlId id_;
};

class TextBox final : public QLineEdit {
 public:
  TextBox(QtForm& form, ControlId id, QWidget* parent);

 protected:
  void focusInEvent(QFocusEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QtForm& form_;
  ControlId id_;
  bool keepSelection_ = false;
  bool swallowing_ = false;
};

class OptionButton final : public QRadioButton {
 public:
  OptionButton(QtForm& form, ControlId id, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  QtForm& form_;
  ControlId id_;
};

// What a form's own window does for every kind of form: the blank area
// counts like a label, neither Escape nor Enter closes or confirms anything
// by themselves, and a close by the user reaches the program first.
class FormWindowBase {
 public:
  explicit FormWindowBase(QtForm& form) : form_(form) {}

 protected:
  void press(QMouseEvent* e) { clicks_.press(e); }
  void doubleClick(QMouseEvent* e) { clicks_.doubleClick(e); }
  void release(QMouseEvent* e);
  bool key(QKeyEvent* e);
  void closing(QCloseEvent* e);
  void stateChanged(QWidget* window);

 private:
  QtForm& form_;
  ClickTracker clicks_;
};

template <typename Base>
class FormWindow final : public Base, FormWindowBase {
 public:
  explicit FormWindow(QtForm& form) : FormWindowBase(form) {}

 protected:
  void mousePressEvent(QMouseEvent* e) override { press(e); }
  void mouseDoubleClickEvent(QMouseEvent* e) override { doubleClick(e); }
  void mouseReleaseEvent(QMouseEvent* e) override { release(e); }
  void keyPressEvent(QKeyEvent* e) override {
    if (!key(e)) Base::keyPressEvent(e);
  }
  void closeEvent(QCloseEvent* e) override {
    closing(e);
    Base::closeEvent(e);
  }
  void changeEvent(QEvent* e) override {
    Base::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange) stateChanged(this);
  }
};

}  // namespace tallimo::qt
