// The baseline for the benchmark: the least a Qt 6 Widgets program needs to
// do Tallimo's visible job. A tool window of the same size at the same place,
// a count label and a count button in the same spots, and a one-second clock
// in the caption. No files, no sound, no fonts of its own.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  window.setWindowTitle("Form1");
  window.setFixedSize(56, 40);
  window.move(3, 18);

  int count = 0;
  QLabel label("0", &window);
  label.setGeometry(0, 0, 38, 19);
  label.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label.setFrameStyle(QFrame::Box | QFrame::Plain);
  QPushButton settings("!", &window);
  settings.setGeometry(40, 1, 17, 17);
  QPushButton counter("Tallimo!!", &window);
  counter.setGeometry(0, 20, 57, 20);
  QObject::connect(&counter, &QPushButton::clicked, [&] { label.setNum(++count); });

  QTimer clock;
  QObject::connect(&clock, &QTimer::timeout,
                   [&] { window.setWindowTitle(QTime::currentTime().toString("hh:mm")); });
  clock.start(1000);

  window.show();
  return QApplication::exec();
}
