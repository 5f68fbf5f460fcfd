#include "platform/qt/QtPlatform.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractNativeEventFilter>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
// A field of xkb.h is called `explicit`.
#define explicit explicit_
#include <xcb/xinput.h>
#include <xcb/xkb.h>
#undef explicit
#endif

#include "platform/ErrorReport.h"
#include "platform/posix/PosixSystem.h"
#include "platform/posix/SingleInstance.h"
#include "platform/qt/QtCommon.h"
#include "platform/qt/QtForm.h"
#include "platform/sdl/SdlWavePlayer.h"

// Resources of a static library must be registered by hand, from the
// global namespace.
static void initResources() {
  Q_INIT_RESOURCE(tallimo);
}

namespace tallimo::qt {

QFont dialogFont() {
  QFont font;
  font.setFamilies({"IPAPGothic", "Noto Sans CJK JP", "VL PGothic", "TakaoPGothic", "sans-serif"});
  font.setPointSizeF(9);
  return font;
}

QFont layoutFont(const FontSpec& spec) {
  QFont font(qs(spec.face));
  font.setPointSizeF(spec.points);
  font.setStyleHint(QFont::TypeWriter);
  return font;
}

QPointer<QWidget> focusBeforeModal(QWidget* owner) {
  if (QWidget* focused = QApplication::focusWidget()) return focused;
  // Inactive, as when a timer's box comes up while the user works elsewhere.
  return owner ? owner->focusWidget() : nullptr;
}

void restoreFocus(const QPointer<QWidget>& had) {
  if (!had || !had->isVisible()) return;
  QWidget* window = had->window();
  window->raise();
  window->activateWindow();
  had->setFocus(Qt::OtherFocusReason);
  // As a box or the dialog closes, the window manager may hand the focus to
  // the program last used and then to us in one instant; that program's late
  // answer then takes it back. Losing it within a second, ask once more.
  auto* watch = new QObject(window);
  QTimer::singleShot(1000, watch, &QObject::deleteLater);
  QObject::connect(qApp, &QGuiApplication::focusWindowChanged, watch,
                   [=, ours = false](QWindow* now) mutable {
                     ours |= now == window->windowHandle();
                     if (now || !ours) return;
                     window->activateWindow();
                     watch->deleteLater();
                   });
}

namespace {

int signalPipe[2] = {-1, -1};
// The claim taken before Qt starts, for the start-up failure that ends the
// process from inside Qt.
posix::SingleInstance* startingClaim = nullptr;

extern "C" void onTerminationSignal(int) {
  const int saved = errno;  // of whatever the signal interrupted
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

// A question is answered by its buttons only: Escape or the close box would
// otherwise answer No and throw the saved count away. With one button they
// mean OK, as usual.
class MessageBox final : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  bool isQuestion() const { return buttons().size() > 1; }
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Escape && isQuestion()) return e->accept();
    QMessageBox::keyPressEvent(e);
  }
  void closeEvent(QCloseEvent* e) override {
    if (isQuestion() && !clickedButton()) return e->ignore();
    QMessageBox::closeEvent(e);
  }
};

// Qt calls a plain top-level widget a filler; screen readers announce a
// window by its role, and speak a notification when it shows.
QAccessibleInterface* accessibleRoles(const QString& className, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (className != "QWidget" || !widget) return nullptr;
  if (widget->objectName() == kAnnouncer)
    return new QAccessibleWidget(widget, QAccessible::Notification);
  return widget->isWindow() ? new QAccessibleWidget(widget, QAccessible::Window) : nullptr;
}

// A key held down is one press. With detectable auto-repeat, switched on
// in listen(), the X server repeats a held key as presses alone and sends one
// release when it is let go. Key events are read here before Qt sees them,
// so that a release sent to a window that has just closed (a box closed by
// the press) still counts; only the first press of a key goes on to Qt.
// A key let go while another program has the focus is seen by its raw
// release, which the X server sends whatever has the focus.
class HeldKeys final : public QAbstractNativeEventFilter {
 public:
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
#if QT_CONFIG(xcb)
    if (type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_key_press_event_t*>(message);
    switch (event->response_type & 0x7f) {
      case XCB_KEY_PRESS:
        return !held_.insert(event->detail).second;
      case XCB_KEY_RELEASE:
        held_.erase(event->detail);
        break;
      case XCB_GE_GENERIC: {
        const auto* raw = static_cast<const xcb_input_raw_key_release_event_t*>(message);
        if (raw->extension != xinput_ || raw->event_type != XCB_INPUT_RAW_KEY_RELEASE) break;
        held_.erase(static_cast<std::uint8_t>(raw->detail));
        return true;
      }
      default:
        break;
    }
#endif
    return false;
  }

  // Asks the X server to repeat a held key as presses alone, so that no
  // repeat looks like a new press after a release, and to send every key's
  // raw release.
  void listen() {
#if QT_CONFIG(xcb)
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return;
    // Qt has already agreed on versions of XKB and of the input extension with
    // the server on this connection.
    constexpr uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    const XcbReply<xcb_xkb_per_client_flags_reply_t> reply(xcb_xkb_per_client_flags_reply(
        c, xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
    if (!reply || !(reply->value & flag))
      std::fprintf(stderr, "tallimo: the X server cannot tell a held key from presses\n");
    const xcb_query_extension_reply_t* input = xcb_get_extension_data(c, &xcb_input_id);
    if (!input || !input->present) return;
    xinput_ = input->major_opcode;
    struct {
      xcb_input_event_mask_t head{XCB_INPUT_DEVICE_ALL_MASTER, 1};
      std::uint32_t bits = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
    } mask;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_input_xi_select_events(c, root, 1, &mask.head);
#endif
  }

 private:
  std::set<std::uint8_t> held_;
  std::uint8_t xinput_ = 0;
};

class Application final : public QApplication {
 public:
  Application(int& argc, char** argv) : QApplication(argc, argv) {
    installNativeEventFilter(&heldKeys_);
    heldKeys_.listen();
  }

 private:
  HeldKeys heldKeys_;
};

class QtPlatform final : public Platform {
 public:
  QtPlatform(int& argc, char** argv, std::unique_ptr<posix::SingleInstance> instance);
  ~QtPlatform() override { sdl::shutdown(); }

  std::unique_ptr<Form> createForm(const FormSpec& spec, FormEvents& events) override {
    auto form = std::make_unique<QtForm>(*this, spec, events, !main_);
    if (!main_) {
      main_ = form.get();
      mainWindow_ = form->window();
    }
    return form;
  }
  int run(Form&) override {
    const int status = QApplication::exec();
    // The record is on disk once the loop ends, and a start from this folder
    // waits until we are gone: tearing Qt, SDL and the bus connections down
    // would only keep it waiting.
    std::fflush(nullptr);
    if (instance_) instance_->release();
    std::_Exit(status);
  }
  MsgAnswer messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                       MsgButtons buttons) override;
  bool modalOpen() const override { return QApplication::activeModalWidget() != nullptr; }
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

 private:
  // The main form while its window lives.
  QtForm* main() const { return mainWindow_ ? main_ : nullptr; }
  void watchTerminationSignals();
  void watchSecondStarts();
  void endSession(bool exitAfter);
  QWidget* ownerForBoxes() const;
  static MsgAnswer askBox(QWidget* owner, std::string_view text, std::string_view title,
                          MsgIcon icon, MsgButtons buttons);

  Application app_;
  std::filesystem::path programDirectory_;
  std::unique_ptr<posix::SingleInstance> instance_;
  QtForm* main_ = nullptr;
  QPointer<QWidget> mainWindow_;
};

QtPlatform::QtPlatform(int& argc, char** argv, std::unique_ptr<posix::SingleInstance> instance)
    : app_(argc, argv),
      programDirectory_(posix::executableDirectory()),
      instance_(std::move(instance)) {
  QApplication::setApplicationName("Tallimo");
  QApplication::setDesktopFileName("tallimo");
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(":/icons/tallimo-32.png"));
  // The layout is in fixed pixels: a desktop theme's style must not change it.
  QApplication::setStyle("Fusion");
  // The layout names Windows fonts; map them to Japanese fonts found on Linux
  // so that no text shows as boxes.
  QFont::insertSubstitutions("ＭＳ ゴシック", {"IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic",
                                               "TakaoGothic", "monospace"});
  QApplication::setFont(dialogFont());
  QAccessible::installFactory(accessibleRoles);
  watchTerminationSignals();
  watchSecondStarts();
#ifndef QT_NO_SESSIONMANAGER
  QObject::connect(&app_, &QGuiApplication::commitDataRequest, [this] { endSession(false); });
#endif
}

// A termination request saves the day and ends the program quietly. The
// signal handler only writes a byte; the work is done in the event loop.
void QtPlatform::watchTerminationSignals() {
  // Without it a termination request ends the program as it stands, and the
  // last second's counting may be lost: say so.
  const auto cannot = [](const char* step) {
    std::fprintf(stderr, "tallimo: cannot watch for termination requests (%s): %s\n", step,
                 std::strerror(errno));
  };
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
    return cannot("socketpair");
  // A handler must never block, however many signals come.
  if (::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK) != 0) return cannot("fcntl");
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
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    if (::sigaction(sig, &action, nullptr) != 0) cannot("sigaction");
}

// A second start from the same folder asks us to come forward, or hands us a
// step from the command line, and ends. A window that is gone answers nothing.
void QtPlatform::watchSecondStarts() {
  if (!instance_ || instance_->fd() < 0) return;
  auto* notifier = new QSocketNotifier(instance_->fd(), QSocketNotifier::Read, &app_);
  QObject::connect(notifier, &QSocketNotifier::activated, [this] {
    fatalOnError(*this, [this] {
      instance_->serve(
          [this](Command command) {
            return main() ? main()->events().answerStep(command)
                          : StepReply{.kind = StepReply::Kind::Closing};
          },
          [this](Command command, const StepReply& reply) {
            if (!main()) return;
            if (command == Command::Show)
              main()->bringForward();
            else
              main()->events().takeStep(command, reply);
          });
    });
  });
}

void QtPlatform::endSession(bool exitAfter) {
  const int status = saveForSessionEnd(main() ? &main()->events() : nullptr);
  if (!exitAfter) return;
  std::fflush(nullptr);
  if (instance_) instance_->release();
  // Everything worth keeping is on disk; nothing else needs tearing down.
  std::_Exit(status);
}

QWidget* QtPlatform::ownerForBoxes() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (mainWindow_ && mainWindow_->isVisible()) return mainWindow_;
  return nullptr;
}

MsgAnswer QtPlatform::messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                                 MsgButtons buttons) {
  QWidget* owner = ownerForBoxes();
  const QPointer<QWidget> had = focusBeforeModal(owner);
  const auto answer = askBox(owner, text, title, icon, buttons);
  restoreFocus(had);
  return answer;
}

MsgAnswer QtPlatform::askBox(QWidget* owner, std::string_view text, std::string_view title,
                             MsgIcon icon, MsgButtons buttons) {
  MessageBox box(owner);
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
  if (buttons == MsgButtons::Ok) {
    box.setDefaultButton(box.addButton("OK", QMessageBox::AcceptRole));
    box.exec();
    return MsgAnswer::Ok;
  }
  auto* yes = box.addButton("はい(&Y)", QMessageBox::YesRole);
  box.addButton("いいえ(&N)", QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setWindowFlag(Qt::WindowCloseButtonHint, false);
  box.exec();
  return box.clickedButton() == yes ? MsgAnswer::Yes : MsgAnswer::No;
}

void QtPlatform::fatalError(const AppError& e) {
  std::fprintf(stderr, "tallimo: %s\n", fatalErrorLine(e).c_str());
  std::fflush(stderr);
  QMessageBox box(QMessageBox::Critical, qs(kAppTitle), qs(fatalErrorText(e)));
  box.setTextFormat(Qt::PlainText);
  box.addButton("OK", QMessageBox::AcceptRole);
  box.exec();
  if (instance_) instance_->release();
  std::_Exit(1);
}

bool isSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// Why the X server could not be reached: a missing server, a refusal and a
// bad display name call for different remedies. Qt keeps the reason to itself,
// so the connection is tried once more here.
std::string displayFailure() {
#if QT_CONFIG(xcb)
  errno = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const int failure = xcb_connection_has_error(connection);
  const int err = errno;
  xcb_disconnect(connection);
  switch (failure) {
    case 0:
      return "the X server did not accept the connection";
    case XCB_CONN_ERROR:
      // A server that refuses (too many clients, no authorization) has
      // already said why on stderr through libxcb.
      return err != 0 ? std::strerror(err) : "the X server refused the connection";
    case XCB_CONN_CLOSED_PARSE_ERR:
      return "the display name is not valid";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
      return "the display has no such screen";
    default:
      return "connection error " + std::to_string(failure);
  }
#else
  return "no X11 support";
#endif
}

// Qt ends with abort() when it cannot reach the display; say it in one line
// and leave with a plain failure instead.
void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "tallimo: cannot open the display%s%s%s: %s\n", display ? " \"" : "",
                 display ? display : "", display ? "\"" : "", displayFailure().c_str());
    if (startingClaim) startingClaim->release();
    std::_Exit(1);
  }
  if (context.category && std::string_view(context.category).starts_with("qt.qpa")) return;
  std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

std::unique_ptr<Platform> createPlatform(int& argc, char** argv,
                                         std::unique_ptr<posix::SingleInstance> claim,
                                         int& status) {
  status = 1;
  if (!isSet("QT_QPA_PLATFORM")) {
    if (isSet("DISPLAY")) {
      // Through XWayland too: only X11 lets the window sit at the corner and
      // stay on top.
      ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else if (isSet("WAYLAND_DISPLAY")) {
      std::fprintf(stderr,
                   "tallimo: on Wayland the compositor decides where the window goes and "
                   "whether it stays on top\n");
    } else {
      std::fprintf(stderr,
                   "tallimo: no display found; set DISPLAY to run Tallimo on an X server\n");
      return nullptr;
    }
  }
  initResources();
  const QtMessageHandler previous = qInstallMessageHandler(startupMessages);
  startingClaim = claim.get();
  auto platform = std::make_unique<QtPlatform>(argc, argv, std::move(claim));
  startingClaim = nullptr;
  qInstallMessageHandler(previous);
  return platform;
}

}  // namespace tallimo::qt
