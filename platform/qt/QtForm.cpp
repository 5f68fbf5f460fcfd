#include "platform/qt/QtForm.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QGroupBox>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

#include "platform/qt/QtCaption.h"
#include "platform/qt/QtCommon.h"
#include "platform/qt/QtControls.h"

namespace tallimo::qt {
namespace {

QColor systemColor(SysColor c) {
  return QApplication::palette().color(c == SysColor::ButtonFace ? QPalette::Button
                                                                 : QPalette::Base);
}

void setColor(QWidget* w, QPalette::ColorRole role, const QColor& c) {
  QPalette palette = w->palette();
  palette.setColor(role, c);
  w->setPalette(palette);
  w->setAutoFillBackground(true);
}

void paintBackground(QWidget* w, SysColor color) {
  setColor(w, qobject_cast<QLineEdit*>(w) ? QPalette::Base : QPalette::Window, systemColor(color));
}

// Where a code-point offset into `text` falls in Qt's UTF-16 units.
int utf16Offset(const QString& text, int codePoints) {
  int units = 0;
  for (int i = 0; i < codePoints && units < text.size(); ++i)
    units += text.at(units).isHighSurrogate() ? 2 : 1;
  return std::min<int>(units, static_cast<int>(text.size()));
}

}  // namespace

QtForm::QtForm(Platform& platform, const FormSpec& spec, FormEvents& events, bool isMain)
    : platform_(platform), spec_(spec), events_(events), isMain_(isMain) {
  const QSize client(px(spec.clientWidth), px(spec.clientHeight));
  if (spec.kind == FormKind::ToolWindow) {
    // Frameless, with a caption of our own around the client area.
    constexpr int border = ToolCaption::kBorder, strip = ToolCaption::kHeight;
    window_ = new FormWindow<QWidget>(*this);
    window_->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    window_->setFixedSize(client + QSize(2 * border, strip + border));
    setColor(window_, QPalette::Window, window_->palette().color(QPalette::Highlight));
    client_ = new QWidget(window_);
    client_->setObjectName("client");
    client_->setGeometry(QRect(QPoint(border, strip), client));
    setColor(client_, QPalette::Window, QApplication::palette().color(QPalette::Window));
    caption_ = new ToolCaption(*this, window_);
    // From the corner of the primary screen's free area: (0,0) may lie on no
    // screen, or under a panel at the top.
    if (spec.placed)
      window_->move(QGuiApplication::primaryScreen()->availableGeometry().topLeft() +
                    QPoint(px(spec.clientLeft) - border, px(spec.clientTop) - strip));
  } else {
    window_ = new FormWindow<QDialog>(*this);
    window_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowCloseButtonHint);
    window_->setFixedSize(client);
    client_ = window_;
  }
  window_->setObjectName(qs(spec.name));
  window_->setWindowTitle(qs(spec.caption));
  window_->setAttribute(Qt::WA_QuitOnClose, false);
  window_->setFont(dialogFont());
  if (!spec.accName.empty()) window_->setAccessibleName(qs(spec.accName));

  for (const ControlSpec& control : spec.controls) {
    const auto id = static_cast<ControlId>(widgets_.size());
    QWidget* parent = control.container >= 0 ? widgets_.at(control.container) : client_;
    widgets_.push_back(build(control, id, parent));
    setText(id, control.text);
    timerOn_.push_back(control.kind == ControlKind::Timer && control.enabled);
  }
  setTabOrder();
  for (std::size_t i = 0; i < widgets_.size(); ++i) {
    if (const int buddy = spec.controls[i].buddy; buddy >= 0)
      static_cast<QLabel*>(widgets_[i])->setBuddy(widgets_.at(buddy));
  }

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
      if (spec.align == Align::Right) label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (spec.border) label->setFrameStyle(QFrame::Box | QFrame::Plain);
      w = label;
      break;
    }
    case ControlKind::Button:
      w = new Button(*this, id, parent);
      break;
    case ControlKind::TextBox: {
      auto* box = new TextBox(*this, id, parent);
      if (spec.align == Align::Right) box->setAlignment(Qt::AlignRight);
      w = box;
      break;
    }
    case ControlKind::Option: {
      auto* option = new OptionButton(*this, id, parent);
      QObject::connect(option, &QRadioButton::toggled,
                       [this, id, container = spec.container](bool checked) {
                         updateOptionStops(container);
                         if (checked) notify([id](FormEvents& ev) { ev.optionSelected(id); });
                       });
      w = option;
      break;
    }
    case ControlKind::Frame:
      w = new QGroupBox(parent);
      break;
  }
  w->setObjectName(qs(spec.name) + (spec.index >= 0 ? QString("(%1)").arg(spec.index) : QString()));
  w->setGeometry(px(spec.left), px(spec.top), px(spec.width), px(spec.height));
  if (!spec.font.face.empty()) w->setFont(layoutFont(spec.font));
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

QRect QtForm::blankArea() const {
  return client_ == window_ ? window_->rect() : client_->geometry();
}

void QtForm::setCaption(std::string_view text) {
  window_->setWindowTitle(qs(text));
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

void QtForm::setDescription(ControlId id, std::string_view text) {
  QWidget* w = widgets_.at(id);
  w->setAccessibleDescription(qs(text));
  // Qt 6.4 sends the change with an object where AT-SPI wants the text, and
  // Orca drops it; a notification that shows up is spoken.
  if (w->hasFocus()) {
    if (!announcer_) {
      announcer_ = new QWidget(client_);
      announcer_->setObjectName(kAnnouncer);
      announcer_->setGeometry(0, 0, 1, 1);
      announcer_->lower();
    }
    announcer_->hide();
    announcer_->setAccessibleName(qs(text));
    announcer_->show();
  }
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

void QtForm::setSelection(ControlId id, int start, int length) {
  if (auto* box = qobject_cast<QLineEdit*>(widgets_.at(id))) {
    const QString text = box->text();
    const int from = utf16Offset(text, start);
    box->setSelection(from, utf16Offset(text, start + length) - from);
  }
}

void QtForm::setFocus(ControlId id) {
  widgets_.at(id)->setFocus(Qt::OtherFocusReason);
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
  const QRect where = window_->geometry();
  window_->setWindowFlag(Qt::WindowStaysOnTopHint, true);
  // Changing the flags can move the window by its frame; put it back.
  window_->setGeometry(where);
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
  // Not every window manager focuses a new window by itself (openbox leaves
  // utility windows alone), and Space must count at once.
  window_->activateWindow();
}

void QtForm::bringForward() {
  if (window_->isVisible()) {
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
  }
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->raise();
    modal->activateWindow();
  }
}

void QtForm::showModal(Form& owner) {
  auto* dialog = qobject_cast<QDialog*>(window_);
  if (!dialog) return;
  QWidget* ownerWindow = static_cast<QtForm&>(owner).window();
  // Taken before the dialog's own first control is given the focus.
  const QPointer<QWidget> had = focusBeforeModal(ownerWindow);
  dialog->setParent(ownerWindow, dialog->windowFlags());
  dialog->setWindowModality(Qt::ApplicationModal);
  markSkipTaskbar();
  focusFirst();
  dialog->exec();
  restoreFocus(had);
}

void QtForm::close() {
  closingByProgram_ = true;
  window_->close();
  closingByProgram_ = false;
}

void QtForm::userClosed() {
  notify([](FormEvents& ev) { ev.closeRequested(); });
  if (isMain_) QCoreApplication::exit(0);
}

void QtForm::closeByUser() {
  userClosed();
  close();
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

}  // namespace tallimo::qt
