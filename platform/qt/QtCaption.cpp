#include "platform/qt/QtCaption.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "platform/qt/QtCommon.h"
#include "platform/qt/QtForm.h"

namespace tallimo::qt {

ToolCaption::ToolCaption(QtForm& form, QWidget* window) : QWidget(window), window_(window) {
  setObjectName("caption");
  setGeometry(0, 0, window->width(), kHeight);
  QFont font = dialogFont();
  font.setPixelSize(11);
  setFont(font);
  connect(window, &QWidget::windowTitleChanged, this, [this] { update(); });

  auto* close = new CloseBox(this);
  close->setGeometry(width() - kBorder - 13, 3, 13, 13);
  connect(close, &QAbstractButton::clicked, this, [&form] { form.closeByUser(); });
}

void ToolCaption::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(palette().color(QPalette::HighlightedText));
  const QRect text(kBorder + 1, 3, width() - 2 * kBorder - 15, kHeight - 5);
  p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, window_->windowTitle());
}

// The window manager moves the window where it can (X11, Wayland); we do
// it ourselves where it cannot.
void ToolCaption::mousePressEvent(QMouseEvent* e) {
  e->accept();
  if (e->button() != Qt::LeftButton) return;
  QWindow* handle = window_->windowHandle();
  if (!handle || !handle->startSystemMove()) grab_ = e->globalPosition().toPoint() - window_->pos();
}

void ToolCaption::mouseMoveEvent(QMouseEvent* e) {
  e->accept();
  if (grab_) window_->move(e->globalPosition().toPoint() - *grab_);
}

void ToolCaption::mouseReleaseEvent(QMouseEvent* e) {
  e->accept();
  grab_.reset();
}

CloseBox::CloseBox(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAccessibleName("閉じる");
}

void CloseBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QColor ink = palette().color(QPalette::HighlightedText);
  p.setPen(QPen(ink, 1));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  if (isDown()) p.fillRect(rect().adjusted(1, 1, -1, -1), ink.darker(130));
  p.setPen(QPen(ink, 1.5));
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF cross = QRectF(rect()).adjusted(3.5, 3.5, -3.5, -3.5);
  p.drawLine(cross.topLeft(), cross.bottomRight());
  p.drawLine(cross.topRight(), cross.bottomLeft());
}

}  // namespace tallimo::qt
