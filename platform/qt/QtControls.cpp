#include "platform/qt/QtControls.h"

#include <limits>
#include <utility>

#include "platform/qt/QtForm.h"

namespace tallimo::qt {

void ClickTracker::press(QMouseEvent* e) {
  const bool counts = e->button() == Qt::LeftButton || e->button() == Qt::RightButton;
  pressed_ = counts ? e->button() : Qt::NoButton;
  e->accept();
}

void ClickTracker::doubleClick(QMouseEvent* e) {
  pressed_ = Qt::NoButton;
  e->accept();
}

bool ClickTracker::release(QMouseEvent* e, const QRect& area) {
  const bool hit =
      pressed_ != Qt::NoButton && e->button() == pressed_ && area.contains(e->position().toPoint());
  if (e->button() == pressed_) pressed_ = Qt::NoButton;
  e->accept();
  return hit;
}

Label::Label(QtForm& form, ControlId id, QWidget* parent) : QLabel(parent), form_(form), id_(id) {
  setTextFormat(Qt::PlainText);
}

void Label::mouseReleaseEvent(QMouseEvent* e) {
  if (clicks_.release(e, rect())) form_.notify([this](FormEvents& ev) { ev.activated(id_); });
}

Button::Button(QtForm& form, ControlId id, QWidget* parent)
    : QPushButton(parent), form_(form), id_(id) {
  setAutoDefault(false);
  // Only a left press moves the focus here (see mousePressEvent), as on
  // Windows; Qt would move it on any press.
  setFocusPolicy(Qt::TabFocus);
  connect(this, &QPushButton::clicked,
          [this] { form_.notify([this](FormEvents& ev) { ev.activated(id_); }); });
}

void Button::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    QPushButton::setFocus(Qt::MouseFocusReason);
    QPushButton::mousePressEvent(e);
    return;
  }
  // Taken here so that it never travels on to the blank area behind.
  e->accept();
  if (e->button() == Qt::RightButton)
    form_.notify([this](FormEvents& ev) { ev.rightPressed(id_); });
}

void Button::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton)
    QPushButton::mouseReleaseEvent(e);
  else
    e->accept();
}

void Button::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    e->accept();
    if (!e->isAutoRepeat()) click();
    return;
  }
  QPushButton::keyPressEvent(e);
}

TextBox::TextBox(QtForm& form, ControlId id, QWidget* parent)
    : QLineEdit(parent), form_(form), id_(id) {
  setMaxLength(std::numeric_limits<int>::max());
}

void TextBox::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  keepSelection_ = e->reason() == Qt::MouseFocusReason;
  form_.notify([this](FormEvents& ev) { ev.focusEntered(id_); });
}

// The press that brought the focus would otherwise drop the selection that
// focusing just made; typing must replace the whole content.
void TextBox::mousePressEvent(QMouseEvent* e) {
  if (std::exchange(keepSelection_, false) && e->button() == Qt::LeftButton) {
    swallowing_ = true;
    e->accept();
    return;
  }
  QLineEdit::mousePressEvent(e);
}

void TextBox::mouseMoveEvent(QMouseEvent* e) {
  if (swallowing_)
    e->accept();
  else
    QLineEdit::mouseMoveEvent(e);
}

void TextBox::mouseReleaseEvent(QMouseEvent* e) {
  if (std::exchange(swallowing_, false))
    e->accept();
  else
    QLineEdit::mouseReleaseEvent(e);
}

OptionButton::OptionButton(QtForm& form, ControlId id, QWidget* parent)
    : QRadioButton(parent), form_(form), id_(id) {
  setFocusPolicy(Qt::ClickFocus);
}

// The arrow keys move the selection within the pair; Tab leaves it.
void OptionButton::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left:
      form_.stepOption(id_, -1);
      break;
    case Qt::Key_Down:
    case Qt::Key_Right:
      form_.stepOption(id_, +1);
      break;
    default:
      QRadioButton::keyPressEvent(e);
      return;
  }
  e->accept();
}

void FormWindowBase::release(QMouseEvent* e) {
  if (clicks_.release(e, form_.blankArea()))
    form_.notify([](FormEvents& ev) { ev.activated(kFormArea); });
}

bool FormWindowBase::key(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      e->accept();
      return true;
    case Qt::Key_F4:
      // Window managers that bind Alt+F4 never pass it on; for the others
      // the own caption closes the window itself.
      if (!(e->modifiers() & Qt::AltModifier) || !form_.hasOwnCaption()) return false;
      e->accept();
      form_.closeByUser();
      return true;
    default:
      return false;
  }
}

void FormWindowBase::closing(QCloseEvent* e) {
  if (!form_.closingByProgram() && e->spontaneous()) form_.userClosed();
}

void FormWindowBase::stateChanged(QWidget* window) {
  if (window->isMinimized()) form_.minimised();
}

}  // namespace tallimo::qt
