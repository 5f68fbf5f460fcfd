#include "platform/qt/QtPlatform.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

#include "platform/ErrorReport.h"
#include "platform/posix/PosixSystem.h"
#include "platform/sdl/SdlWavePlayer.h"

// Resources of a static library must be registered by hand, from the
// global namespace.
static void initResources() {
  Q_INIT_RESOURCE(tallimo);
}

namespace tallimo::qt {
namespace {

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

int px(int twips) {
  return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

QColor systemColor(SysColor c) {
  return QApplication::palette().color(c == SysColor::ButtonFace ? QPalette::Button
                                                                 : QPalette::Base);
}

// Where a code-point offset into `text` falls in Qt's UTF-16 units.
int utf16Offset(const QString& text, int codePoints) {
  int units = 0;
  for (int i = 0; i < codePoints && units < text.size(); ++i)
    units += text.at(units).isHighSurrogate() ? 2 : 1;
  return std::min<int>(units, static_cast<int>(text.size()));
}

void paintBackground(QWidget* w, SysColor color);

class QtForm;

// A press and release of the left or right button over a label or the
// blank area is one activation. The second press of a quick double press
// arrives as a double-click, which has no handler, so it counts once.
class ClickTracker {
 public:
  void press(QMouseEvent* e) {
    const bool counts = e->button() == Qt::LeftButton || e->button() == Qt::RightButton;
    pressed_ = counts ? e->button() : Qt::NoButton;
    e->accept();
  }
  void doubleClick(QMouseEvent* e) {
    pressed_ = Qt::NoButton;
    e->accept();
  }
  bool release(QMouseEvent* e, const QRect& area) {
    const bool hit = pressed_ != Qt::NoButton && e->button() == pressed_ &&
                     area.contains(e->position().toPoint());
    if (e->button() == pressed_) pressed_ = Qt::NoButton;
    e->accept();
    return hit;
  }

 private:
  Qt::MouseButton pressed_ = Qt::NoButton;
};

class QtPlatform;

// A live form: its top-level window, one widget per table row and the
// one-second tick that drives its timers.
class QtForm final : public Form {
 public:
  QtForm(QtPlatform& platform, const FormSpec& spec, FormEvents& events);
  ~QtForm() override;

  void setCaption(std::string_view text) override { window_->setWindowTitle(qs(text)); }
  void setText(ControlId id, std::string_view text) override;
  std::string text(ControlId id) const override;
  void setDescription(ControlId id, std::string_view text) override {
    widgets_.at(id)->setAccessibleDescription(qs(text));
  }
  void setEnabled(ControlId id, bool on) override;
  void setBackColor(ControlId id, SysColor color) override;
  void setSelection(ControlId id, int start, int length) override;
  void setFocus(ControlId id) override { widgets_.at(id)->setFocus(Qt::OtherFocusReason); }
  void select(ControlId id) override;
  bool isSelected(ControlId id) const override;
  void makeTopmost() override;
  void show() override;
  void showModal(Form& owner) override;
  void close() override;

  QWidget* window() const { return window_; }
  QtPlatform& platform() { return platform_; }
  FormEvents& events() { return events_; }

  // Notifications from the widgets, run at the backend's edge.
  template <typename F>
  void notify(F&& f);
  void stepOption(ControlId id, int direction);
  void userClosed();
  bool closingByProgram() const { return closingByProgram_; }

 private:
  QWidget* build(const ControlSpec& spec, ControlId id, QWidget* parent);
  void setTabOrder();
  void focusFirst();
  void updateOptionStops(int container);
  void markSkipTaskbar();
  void scheduleTick(bool first);
  void tick();

  QtPlatform& platform_;
  const FormSpec& spec_;
  FormEvents& events_;
  QWidget* window_ = nullptr;
  std::vector<QWidget*> widgets_;  // nullptr for timers
  std::vector<bool> timerOn_;
  QTimer* ticker_ = nullptr;
  bool closingByProgram_ = false;
};

// ---- widgets ------------------------------------------------------------------

class Label final : public QLabel {
 public:
  Label(QtForm& form, ControlId id, QWidget* parent) : QLabel(parent), form_(form), id_(id) {
    setTextFormat(Qt::PlainText);
  }

 protected:
  void mousePressEvent(QMouseEvent* e) override { clicks_.press(e); }
  void mouseDoubleClickEvent(QMouseEvent* e) override { clicks_.doubleClick(e); }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (clicks_.release(e, rect())) form_.notify([&](FormEvents& ev) { ev.activated(id_); });
  }

 private:
  QtForm& form_;
  ControlId id_;
  ClickTracker clicks_;
};

class Button final : public QPushButton {
 public:
  Button(QtForm& form, ControlId id, QWidget* parent) : QPushButton(parent), form_(form), id_(id) {
    setAutoDefault(false);
    // Only a left press moves the focus here (see mousePressEvent), as on
    // Windows; Qt would move it on any press.
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QPushButton::clicked,
            [this] { form_.notify([this](FormEvents& ev) { ev.activated(id_); }); });
  }

 protected:
  void mousePressEvent(QMouseEvent* e) override {
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
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton)
      QPushButton::mouseReleaseEvent(e);
    else
      e->accept();
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
      e->accept();
      if (!e->isAutoRepeat()) click();
      return;
    }
    QPushButton::keyPressEvent(e);
  }

 private:
  QtForm& form_;
  ControlId id_;
};

class TextBox final : public QLineEdit {
 public:
  TextBox(QtForm& form, ControlId id, QWidget* parent) : QLineEdit(parent), form_(form), id_(id) {
    setMaxLength(std::numeric_limits<int>::max());
  }

 protected:
  void focusInEvent(QFocusEvent* e) override {
    QLineEdit::focusInEvent(e);
    keepSelection_ = e->reason() == Qt::MouseFocusReason;
    form_.notify([this](FormEvents& ev) { ev.focusEntered(id_); });
  }
  // The press that brought the focus would otherwise drop the selection
  // that focusing just made; typing must replace the whole content.
  void mousePressEvent(QMouseEvent* e) override {
    if (std::exchange(keepSelection_, false) && e->button() == Qt::LeftButton) {
      swallowing_ = true;
      e->accept();
      return;
    }
    QLineEdit::mousePressEvent(e);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (swallowing_)
      e->accept();
    else
      QLineEdit::mouseMoveEvent(e);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (std::exchange(swallowing_, false))
      e->accept();
    else
      QLineEdit::mouseReleaseEvent(e);
  }

 private:
  QtForm& form_;
  ControlId id_;
  bool keepSelection_ = false;
  bool swallowing_ = false;
};

class OptionButton final : public QRadioButton {
 public:
  OptionButton(QtForm& form, ControlId id, QWidget* parent)
      : QRadioButton(parent), form_(form), id_(id) {}

 protected:
  // The arrow keys move the selection within the pair; Tab leaves it.
  void keyPressEvent(QKeyEvent* e) override {
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

 private:
  QtForm& form_;
  ControlId id_;
};

// The form's own window: the blank area counts like a label, and the close
// box reaches the program before the window goes.
template <typename Base>
class FormWindow final : public Base {
 public:
  explicit FormWindow(QtForm& form, QWidget* parent = nullptr) : Base(parent), form_(form) {}

 protected:
  void mousePressEvent(QMouseEvent* e) override { clicks_.press(e); }
  void mouseDoubleClickEvent(QMouseEvent* e) override { clicks_.doubleClick(e); }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (clicks_.release(e, this->rect()))
      form_.notify([](FormEvents& ev) { ev.activated(kFormArea); });
  }
  void keyPressEvent(QKeyEvent* e) override {
    // Neither Escape nor Enter may close or confirm a dialog by themselves.
    switch (e->key()) {
      case Qt::Key_Escape:
      case Qt::Key_Return:
      case Qt::Key_Enter:
        e->accept();
        return;
      default:
        Base::keyPressEvent(e);
    }
  }
  void closeEvent(QCloseEvent* e) override {
    if (!form_.closingByProgram() && e->spontaneous()) form_.userClosed();
    Base::closeEvent(e);
  }

 private:
  QtForm& form_;
  ClickTracker clicks_;
};

// ---- the platform ------------------------------------------------------------

int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

class QtPlatform final : public Platform {
 public:
  QtPlatform(int& argc, char** argv);
  ~QtPlatform() override { sdl::shutdown(); }

  std::unique_ptr<Form> createForm(const FormSpec& spec, FormEvents& events) override {
    auto form = std::make_unique<QtForm>(*this, spec, events);
    if (!main_) main_ = form.get();
    return form;
  }
  int run(Form& main) override {
    main_ = static_cast<QtForm*>(&main);
    return QApplication::exec();
  }
  MsgAnswer messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                       MsgButtons buttons) override;
  [[noreturn]] void fatalError(const AppError& e) override;
  LocalTime now() override { return posix::localNow(); }
  std::string decimalSeparator() override { return QLocale::system().decimalPoint().toStdString(); }
  std::filesystem::path programFile(std::string_view name) override {
    return programDirectory_ / name;
  }
  std::unique_ptr<BinaryFile> openFile(const std::filesystem::path& path) override {
    return posix::openFile(path);
  }
  void playWave(std::span<const std::byte> wave) noexcept override { sdl::playWave(wave); }

  bool isMain(const QtForm* form) const { return form == main_; }
  void formGone(const QtForm* form) {
    if (form == main_) main_ = nullptr;
  }

 private:
  void watchTerminationSignals();
  void endSession(bool exitAfter);
  QWidget* ownerForBoxes() const;

  QApplication app_;
  std::filesystem::path programDirectory_;
  QtForm* main_ = nullptr;
};

// ---- QtForm ---------------------------------------------------------------------

QtForm::QtForm(QtPlatform& platform, const FormSpec& spec, FormEvents& events)
    : platform_(platform), spec_(spec), events_(events) {
  const Qt::WindowFlags chrome =
      Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
  if (spec.kind == FormKind::ToolWindow) {
    window_ = new FormWindow<QWidget>(*this);
    window_->setWindowFlags(Qt::Tool | chrome);
  } else {
    window_ = new FormWindow<QDialog>(*this);
    window_->setWindowFlags(Qt::Dialog | chrome);
  }
  window_->setObjectName(qs(spec.name));
  window_->setWindowTitle(qs(spec.caption));
  window_->setAttribute(Qt::WA_QuitOnClose, false);
  const QSize size(px(spec.clientWidth), px(spec.clientHeight));
  window_->setFixedSize(size);
  if (spec.placed)
    window_->setGeometry(QRect(QPoint(px(spec.clientLeft), px(spec.clientTop)), size));

  for (const ControlSpec& control : spec.controls) {
    const auto id = static_cast<ControlId>(widgets_.size());
    QWidget* parent = control.container >= 0 ? widgets_.at(control.container) : window_;
    widgets_.push_back(build(control, id, parent));
    timerOn_.push_back(control.kind == ControlKind::Timer && control.enabled);
  }
  setTabOrder();
  for (std::size_t i = 0; i < widgets_.size(); ++i) {
    if (const int buddy = spec.controls[i].buddy; buddy >= 0)
      static_cast<QLabel*>(widgets_[i])->setBuddy(widgets_.at(buddy));
  }
  if (!spec.accName.empty()) window_->setAccessibleName(qs(spec.accName));

  if (std::ranges::any_of(spec.controls,
                          [](const auto& c) { return c.kind == ControlKind::Timer; })) {
    ticker_ = new QTimer(window_);
    ticker_->setSingleShot(true);
    ticker_->setTimerType(Qt::PreciseTimer);
    QObject::connect(ticker_, &QTimer::timeout, [this] { tick(); });
    scheduleTick(true);
  }
}

QtForm::~QtForm() {
  platform_.formGone(this);
  closingByProgram_ = true;
  delete window_;
}

QWidget* QtForm::build(const ControlSpec& spec, ControlId id, QWidget* parent) {
  QWidget* w = nullptr;
  switch (spec.kind) {
    case ControlKind::Timer:
      return nullptr;
    case ControlKind::Label: {
      auto* label = new Label(*this, id, parent);
      label->setText(qs(spec.text));
      if (spec.align == Align::Right) label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (spec.border) label->setFrameStyle(QFrame::Box | QFrame::Plain);
      w = label;
      break;
    }
    case ControlKind::Button: {
      auto* button = new Button(*this, id, parent);
      button->setText(qs(spec.text));
      w = button;
      break;
    }
    case ControlKind::TextBox: {
      auto* box = new TextBox(*this, id, parent);
      box->setText(qs(spec.text));
      if (spec.align == Align::Right) box->setAlignment(Qt::AlignRight);
      w = box;
      break;
    }
    case ControlKind::Option: {
      auto* option = new OptionButton(*this, id, parent);
      option->setText(qs(spec.text));
      option->setFocusPolicy(Qt::ClickFocus);
      QObject::connect(option, &QRadioButton::toggled,
                       [this, id, container = spec.container](bool checked) {
                         updateOptionStops(container);
                         if (checked) notify([id](FormEvents& ev) { ev.optionSelected(id); });
                       });
      w = option;
      break;
    }
    case ControlKind::Frame:
      w = new QGroupBox(qs(spec.text), parent);
      break;
  }
  w->setObjectName(qs(spec.name) + (spec.index >= 0 ? QString("(%1)").arg(spec.index) : QString()));
  w->setGeometry(px(spec.left), px(spec.top), px(spec.width), px(spec.height));
  if (!spec.font.face.empty()) {
    QFont font(qs(spec.font.face));
    font.setPointSizeF(spec.font.points);
    font.setStyleHint(QFont::TypeWriter);
    w->setFont(font);
  }
  w->setEnabled(spec.enabled);
  if (!spec.accName.empty()) w->setAccessibleName(qs(spec.accName));
  if (!spec.accDescription.empty()) w->setAccessibleDescription(qs(spec.accDescription));
  if (spec.back != SysColor::Default) paintBackground(w, spec.back);
  return w;
}

// Focus moves by tab index; disabled boxes and unselected options are skipped
// by Qt itself because they cannot take the focus by Tab.
void QtForm::setTabOrder() {
  std::vector<ControlId> order;
  for (std::size_t i = 0; i < widgets_.size(); ++i) {
    const auto kind = spec_.controls[i].kind;
    if (kind == ControlKind::Button || kind == ControlKind::TextBox || kind == ControlKind::Option)
      order.push_back(static_cast<ControlId>(i));
  }
  std::ranges::stable_sort(order, [this](ControlId a, ControlId b) {
    return spec_.controls[a].tabIndex < spec_.controls[b].tabIndex;
  });
  for (std::size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(widgets_[order[i - 1]], widgets_[order[i]]);
}

void QtForm::focusFirst() {
  ControlId best = -1;
  for (std::size_t i = 0; i < widgets_.size(); ++i) {
    const QWidget* w = widgets_[i];
    if (!w || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus)) continue;
    if (best < 0 || spec_.controls[i].tabIndex < spec_.controls[best].tabIndex)
      best = static_cast<ControlId>(i);
  }
  if (best >= 0) widgets_[best]->setFocus(Qt::TabFocusReason);
}

// An option pair is one tab stop: only its selected member takes Tab.
void QtForm::updateOptionStops(int container) {
  for (std::size_t i = 0; i < widgets_.size(); ++i) {
    const auto& spec = spec_.controls[i];
    if (spec.kind != ControlKind::Option || spec.container != container) continue;
    auto* option = static_cast<QRadioButton*>(widgets_[i]);
    option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

void QtForm::stepOption(ControlId id, int direction) {
  std::vector<ControlId> group;
  for (std::size_t i = 0; i < widgets_.size(); ++i) {
    const auto& spec = spec_.controls[i];
    if (spec.kind == ControlKind::Option && spec.container == spec_.controls[id].container)
      group.push_back(static_cast<ControlId>(i));
  }
  const auto at = std::ranges::find(group, id) - group.begin();
  const auto n = static_cast<std::ptrdiff_t>(group.size());
  const ControlId next = group[static_cast<std::size_t>(((at + direction) % n + n) % n)];
  if (next == id) return;
  widgets_[next]->setFocus(Qt::TabFocusReason);
  select(next);
}

void QtForm::setText(ControlId id, std::string_view text) {
  QWidget* w = widgets_.at(id);
  if (auto* box = qobject_cast<QLineEdit*>(w))
    box->setText(qs(text));
  else if (auto* label = qobject_cast<QLabel*>(w))
    label->setText(qs(text));
  else if (auto* button = qobject_cast<QAbstractButton*>(w))
    button->setText(qs(text));
  else if (auto* frame = qobject_cast<QGroupBox*>(w))
    frame->setTitle(qs(text));
}

std::string QtForm::text(ControlId id) const {
  QWidget* w = widgets_.at(id);
  if (auto* box = qobject_cast<QLineEdit*>(w)) return box->text().toStdString();
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text().toStdString();
  if (auto* frame = qobject_cast<QGroupBox*>(w)) return frame->title().toStdString();
  return {};
}

void QtForm::setEnabled(ControlId id, bool on) {
  if (QWidget* w = widgets_.at(id))
    w->setEnabled(on);
  else
    timerOn_.at(id) = on;
}

void QtForm::setBackColor(ControlId id, SysColor color) {
  paintBackground(widgets_.at(id), color);
}

void paintBackground(QWidget* w, SysColor color) {
  QPalette palette = w->palette();
  const QColor c = systemColor(color);
  const auto role = qobject_cast<QLineEdit*>(w) ? QPalette::Base : QPalette::Window;
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    palette.setColor(group, role, c);
  w->setPalette(palette);
  w->setAutoFillBackground(true);
}

void QtForm::setSelection(ControlId id, int start, int length) {
  if (auto* box = qobject_cast<QLineEdit*>(widgets_.at(id))) {
    const QString text = box->text();
    const int from = utf16Offset(text, start);
    box->setSelection(from, utf16Offset(text, start + length) - from);
  }
}

void QtForm::select(ControlId id) {
  auto* option = qobject_cast<QRadioButton*>(widgets_.at(id));
  if (!option) return;
  if (option->isChecked())
    notify([id](FormEvents& ev) { ev.optionSelected(id); });
  else
    option->setChecked(true);
}

bool QtForm::isSelected(ControlId id) const {
  auto* option = qobject_cast<QRadioButton*>(widgets_.at(id));
  return option && option->isChecked();
}

void QtForm::makeTopmost() {
  const bool visible = window_->isVisible();
  const QRect client = window_->geometry();
  window_->setWindowFlag(Qt::WindowStaysOnTopHint, true);
  // Changing the flags moves the window back by its frame position; put the
  // client area back where it was instead.
  window_->setGeometry(client);
  if (visible) window_->show();
}

// Tool windows and dialogs keep out of the taskbar; Qt says so on Windows
// but not on X11, where the window has to carry the state itself before it
// is mapped (Qt merges its own states into what it finds there).
void QtForm::markSkipTaskbar() {
#if QT_CONFIG(xcb)
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (!c) return;  // another platform plugin (offscreen, say)
  const char* names[] = {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"};
  xcb_intern_atom_cookie_t cookies[3];
  for (int i = 0; i < 3; ++i)
    cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
  xcb_atom_t atoms[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (auto* reply = xcb_intern_atom_reply(c, cookies[i], nullptr)) {
      atoms[i] = reply->atom;
      std::free(reply);
    }
  }
  const auto window = static_cast<xcb_window_t>(window_->winId());
  xcb_change_property(c, XCB_PROP_MODE_APPEND, window, atoms[0], XCB_ATOM_ATOM, 32, 2, &atoms[1]);
  xcb_flush(c);
#endif
}

void QtForm::show() {
  markSkipTaskbar();
  focusFirst();
  window_->show();
}

void QtForm::showModal(Form& owner) {
  auto* dialog = qobject_cast<QDialog*>(window_);
  if (!dialog) return;
  dialog->setParent(static_cast<QtForm&>(owner).window(), dialog->windowFlags());
  dialog->setWindowModality(Qt::ApplicationModal);
  markSkipTaskbar();
  focusFirst();
  dialog->exec();
}

void QtForm::close() {
  closingByProgram_ = true;
  window_->close();
  closingByProgram_ = false;
}

void QtForm::userClosed() {
  notify([](FormEvents& ev) { ev.closeRequested(); });
  if (platform_.isMain(this)) QCoreApplication::exit(0);
}

template <typename F>
void QtForm::notify(F&& f) {
  fatalOnError(platform_, [&] { f(events_); });
}

// One wake-up a second for all of a form's timers, just after each second
// of the wall clock begins, so that every tick reads a new second.
void QtForm::scheduleTick(bool first) {
  const auto ms = static_cast<int>(QDateTime::currentMSecsSinceEpoch() % 1000);
  ticker_->start(first ? 1000 : 1010 - ms);
}

void QtForm::tick() {
  scheduleTick(false);
  for (std::size_t i = 0; i < timerOn_.size(); ++i) {
    if (!timerOn_[i]) continue;
    const auto id = static_cast<ControlId>(i);
    notify([id](FormEvents& ev) { ev.timerTick(id); });
  }
}

// ---- QtPlatform -------------------------------------------------------------------

void applyFonts() {
  // The layout names Windows fonts; map them to Japanese fonts found on Linux
  // so that no text shows as boxes.
  QFont::insertSubstitutions("ＭＳ ゴシック", {"IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic",
                                               "TakaoGothic", "monospace"});
  QFont::insertSubstitutions("MS UI Gothic", {"IPAPGothic", "IPAGothic", "Noto Sans CJK JP",
                                              "VL PGothic", "TakaoPGothic", "sans-serif"});
  QFont dialogFont("MS UI Gothic");
  dialogFont.setPointSizeF(9);
  QApplication::setFont(dialogFont);
}

QtPlatform::QtPlatform(int& argc, char** argv)
    : app_(argc, argv), programDirectory_(posix::executableDirectory()) {
  QApplication::setApplicationName("Tallimo");
  QApplication::setDesktopFileName("tallimo");
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(":/icons/tallimo-32.png"));
  applyFonts();
  watchTerminationSignals();
#ifndef QT_NO_SESSIONMANAGER
  QObject::connect(&app_, &QGuiApplication::commitDataRequest, [this] { endSession(false); });
#endif
}

// A termination request saves the day and ends the program quietly. The
// signal handler only writes a byte; the work is done in the event loop.
void QtPlatform::watchTerminationSignals() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app_);
  QObject::connect(notifier, &QSocketNotifier::activated, [this] {
    char byte;
    [[maybe_unused]] const auto n = ::read(signalPipe[0], &byte, 1);
    endSession(true);
  });
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

void QtPlatform::endSession(bool exitAfter) {
  const int status = saveForSessionEnd(main_ ? &main_->events() : nullptr);
  if (!exitAfter) return;
  std::fflush(nullptr);
  // Everything worth keeping is on disk; nothing else needs tearing down.
  std::_Exit(status);
}

QWidget* QtPlatform::ownerForBoxes() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (main_ && main_->window()->isVisible()) return main_->window();
  return nullptr;
}

MsgAnswer QtPlatform::messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                                 MsgButtons buttons) {
  QMessageBox box(ownerForBoxes());
  box.setWindowTitle(qs(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(qs(text));
  switch (icon) {
    case MsgIcon::None:
      box.setIcon(QMessageBox::NoIcon);
      break;
    case MsgIcon::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case MsgIcon::Question:
      box.setIcon(QMessageBox::Question);
      break;
    case MsgIcon::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
  }
  // Button texts as a Japanese desktop shows them, whatever the locale.
  QAbstractButton* yes = nullptr;
  if (buttons == MsgButtons::Ok) {
    box.setDefaultButton(box.addButton("OK", QMessageBox::AcceptRole));
  } else {
    yes = box.addButton("はい(&Y)", QMessageBox::YesRole);
    box.addButton("いいえ(&N)", QMessageBox::NoRole);
    box.setDefaultButton(static_cast<QPushButton*>(yes));
  }
  box.exec();
  if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
  return box.clickedButton() == yes ? MsgAnswer::Yes : MsgAnswer::No;
}

void QtPlatform::fatalError(const AppError& e) {
  std::fprintf(stderr, "tallimo: 実行時エラー '%d': %s\n", e.number(), e.what());
  std::fflush(stderr);
  QMessageBox box(QMessageBox::Critical, qs(kAppTitle),
                  QString("実行時エラー '%1':\n\n%2").arg(e.number()).arg(qs(e.what())));
  box.setTextFormat(Qt::PlainText);
  box.addButton("OK", QMessageBox::AcceptRole);
  box.exec();
  std::_Exit(1);
}

bool displayAvailable() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// Qt ends with abort() when it cannot reach the display; say it in one line
// and leave with a plain failure instead.
void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "tallimo: cannot open the display%s%s%s\n", display ? " \"" : "",
                 display ? display : "", display ? "\"" : "");
    std::_Exit(1);
  }
  if (context.category && std::string_view(context.category).starts_with("qt.qpa")) return;
  std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

std::unique_ptr<Platform> createPlatform(int& argc, char** argv) {
  if (!displayAvailable()) {
    std::fprintf(stderr, "tallimo: no display found; set DISPLAY to run Tallimo on an X server\n");
    return nullptr;
  }
  initResources();
  const QtMessageHandler previous = qInstallMessageHandler(startupMessages);
  auto platform = std::make_unique<QtPlatform>(argc, argv);
  qInstallMessageHandler(previous);
  return platform;
}

}  // namespace tallimo::qt
