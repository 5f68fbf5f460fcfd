#pragma once

#include <QAbstractButton>
#include <QWidget>
#include <optional>

namespace tallimo::qt {

class QtForm;

// The main window's own narrow caption: its title, one close box, and a
// strip that moves the window. A window manager's caption on a 56-pixel
// window fills up with its own buttons and hides the clock.
class ToolCaption final : public QWidget {
 public:
  static constexpr int kBorder = 3;   // left, right and bottom of the window
  static constexpr int kHeight = 18;  // the strip, top border included

  ToolCaption(QtForm& form, QWidget* window);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QWidget* window_;
  std::optional<QPoint> grab_;  // where the strip was taken, when we move it ourselves
};

class CloseBox final : public QAbstractButton {
 public:
  explicit CloseBox(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent*) override;
};

}  // namespace tallimo::qt
