#include "platform/qt/QtForm.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QGroupBox>
#include <QScreen>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

#include "platform/FormRules.h"
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

#if QT_CONFIG(xcb)
xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  const auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
  const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_get_property_cookie_t askCardinals(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                       xcb_atom_t type = XCB_ATOM_CARDINAL) {
  return xcb_get_property(c, 0, w, property, type, 0, 1024);
}

std::vector<uint32_t> cardinals(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
  std::vector<uint32_t> values;
  const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
  if (reply && reply->format == 32) {
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    values.assign(v, v + xcb_get_property_value_length(reply.get()) / 4);
  }
  return values;
}

// What the window manager's work area and the struts of panels at the left
// and the top leave free of `area`, in X pixels: the window goes to its corner.
QRect freeOfPanels(xcb_connection_t* c, QRect area) {
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t root = screen->root;
  const int rootW = screen->width_in_pixels, rootH = screen->height_in_pixels;
  const xcb_atom_t partialAtom = atom(c, "_NET_WM_STRUT_PARTIAL"),
                   strutAtom = atom(c, "_NET_WM_STRUT");
  const auto desktop = askCardinals(c, root, atom(c, "_NET_CURRENT_DESKTOP"));
  const auto workarea = askCardinals(c, root, atom(c, "_NET_WORKAREA"));
  const auto clients = askCardinals(c, root, atom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
  const auto desk = cardinals(c, desktop);
  const auto work = cardinals(c, workarea);
  const std::size_t at = 4 * (desk.empty() ? 0 : desk[0]);
  if (at + 4 <= work.size()) {
    const QRect free = area.intersected(
        QRect(int(work[at]), int(work[at + 1]), int(work[at + 2]), int(work[at + 3])));
    if (!free.isEmpty()) area = free;
  }
  // Some window managers leave the work area whole where only a panel's
  // strut says what it covers, and one strut may reach a single monitor. A
  // window manager's own panel may be in no client list, and a client's
  // window lies a few levels down under its frame.
  std::vector<xcb_window_t> windows = cardinals(c, clients), level{root};
  for (int depth = 0; depth < 3; ++depth) {
    std::vector<xcb_query_tree_cookie_t> trees;
    for (const xcb_window_t w : level) trees.push_back(xcb_query_tree(c, w));
    level.clear();
    for (const auto cookie : trees) {
      if (const XcbReply<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(c, cookie, nullptr)}) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        level.insert(level.end(), children, children + xcb_query_tree_children_length(tree.get()));
      }
    }
    windows.insert(windows.end(), level.begin(), level.end());
  }
  std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> struts;
  for (const xcb_window_t w : windows)
    struts.emplace_back(askCardinals(c, w, partialAtom), askCardinals(c, w, strutAtom));
  const QRect screenRect = area;
  for (const auto& [partialCookie, strutCookie] : struts) {
    auto s = cardinals(c, partialCookie);
    const auto plain = cardinals(c, strutCookie);
    if (s.size() < 12 && plain.size() >= 4) {
      s = {plain[0], plain[1],
           plain[2], plain[3],
           0,        uint32_t(rootH - 1),
           0,        uint32_t(rootH - 1),
           0,        uint32_t(rootW - 1),
           0,        uint32_t(rootW - 1)};
    }
    if (s.size() < 12) continue;
    const auto covers = [&](int x0, int y0, int x1, int y1) {
      return x1 >= x0 && y1 >= y0 && QRect(QPoint(x0, y0), QPoint(x1, y1)).intersects(screenRect);
    };
    const int left = int(s[0]), top = int(s[2]);
    if (left > 0 && covers(0, int(s[4]), left - 1, int(s[5])))
      area.setLeft(std::max(area.left(), left));
    if (top > 0 && covers(int(s[8]), 0, int(s[9]), top - 1)) area.setTop(std::max(area.top(), top));
  }
  return area.isEmpty() ? screenRect : area;
}
#endif

// The part of the primary screen that no panel covers. Qt only trusts the
// window manager's work area while there is a single screen.
QRect freeArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect available = screen->availableGeometry();
#if QT_CONFIG(xcb)
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (xcb_connection_t* c = x11 ? x11->connection() : nullptr) {
    // Qt scales a screen's size about its native top-left corner.
    const qreal scale = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QRect free =
        freeOfPanels(c, QRect(origin, (QSizeF(screen->geometry().size()) * scale).toSize()));
    return available.intersected(
        QRect(origin + (QPointF(free.topLeft() - origin) / scale).toPoint(),
              (QSizeF(free.size()) / scale).toSize()));
  }
#endif
  return available;
}

}  // namespace

QtForm::QtForm(Platform& platform, const FormSpec& spec, FormEvents& events, bool isMain)
    : platform_(platform), spec_(spec), events_(events), isMain_(isMain), timers_(spec.controls) {
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
      window_->move(freeArea().topLeft() +
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

// A window deleted gets no close event (Qt closes it with CloseNoEvent).
QtForm::~QtForm() {
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

// Disabled boxes and unselected options are skipped by Qt itself because
// they cannot take the focus by Tab.
void QtForm::setTabOrder() {
  QWidget* previous = nullptr;
  for (const ControlId id : tabOrder(spec_.controls)) {
    if (!isTabStop(spec_.controls[id].kind)) continue;
    if (previous) QWidget::setTabOrder(previous, widgets_[id]);
    previous = widgets_[id];
  }
}

void QtForm::focusFirst() {
  const ControlId first = firstFocus(spec_.controls, [this](ControlId id) {
    return widgets_[id]->isEnabled() && (widgets_[id]->focusPolicy() & Qt::TabFocus);
  });
  if (first >= 0) widgets_[first]->setFocus(Qt::TabFocusReason);
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
  const auto* box = qobject_cast<QLineEdit*>(widgets_.at(id));
  return box ? box->text().toStdString() : std::string{};
}

void QtForm::setDescription(ControlId id, std::string_view text) {
  QWidget* w = widgets_.at(id);
  w->setAccessibleDescription(qs(text));
  // Qt 6.4 sends the change with an object where AT-SPI wants the text, and
  // Orca drops it; a notification that shows up is spoken, also from a window
  // in the background (a count from a shortcut). Once a count: by the control
  // that has the focus, or gets it back with the window. Painted by nothing
  // and 1x1, it neither shows nor takes the focus.
  if (w == w->window()->focusWidget()) {
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
    timers_.set(id, on);
}

void QtForm::setBackColor(ControlId id, SysColor color) {
  paintBackground(widgets_.at(id), color);
}

void QtForm::setSelection(ControlId id, int start, int length) {
  if (auto* box = qobject_cast<QLineEdit*>(widgets_.at(id))) {
    const std::u16string text = box->text().toStdU16String();
    const int from = utf16Offset<char16_t>(text, start);
    box->setSelection(from, utf16Offset<char16_t>(text, start + length) - from);
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
    if (const XcbReply<xcb_intern_atom_reply_t> reply{
            xcb_intern_atom_reply(c, cookies[i], nullptr)})
      atoms[i] = reply->atom;
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

// Neither window is in the taskbar, and some window managers offer a
// minimise button all the same, or minimise the owner with its dialog: while
// a modal window is open, that would leave nothing to click. Both come back.
void QtForm::minimised() {
  if (!QApplication::activeModalWidget()) return;
  QTimer::singleShot(0, window_, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->isVisible() && w->isMinimized())
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
      modal->raise();
      modal->activateWindow();
    }
  });
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

// One wake-up for all of a form's timers.
void QtForm::scheduleTick(bool first) {
  const auto ms = static_cast<int>(QDateTime::currentMSecsSinceEpoch() % 1000);
  ticker_->start(first ? kTickPeriodMs : msUntilNextTick(ms));
}

void QtForm::tick() {
  scheduleTick(false);
  timers_.tick([this](ControlId id) { notify([id](FormEvents& ev) { ev.timerTick(id); }); });
}

}  // namespace tallimo::qt
