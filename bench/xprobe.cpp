// Measures a program from the X server's side, with events instead of polling.
//
//   tallimo_xprobe map PROGRAM [ARGS...]
//     Starts PROGRAM (its output goes to our stderr) and prints
//     "PID WINDOW MICROSECONDS": the program's pid, its top-level window and
//     the time from just before the fork to the MapNotify of the frame the
//     window manager put around that window, i.e. the moment it is on screen.
//
//   tallimo_xprobe click WINDOW X Y LX LY LW LH COUNT
//     Presses and releases the left button COUNT times at X,Y in WINDOW through
//     XTEST and prints, one a line, the microseconds from sending the release
//     to the first damage the program draws into the rectangle LX,LY,LW,LH of
//     WINDOW (DAMAGE extension, raw rectangles), or -1 when none came in 2 s.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "tallimo_xprobe: %s\n", message.c_str());
  std::exit(2);
}

long long micros(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

// The next event, or none once `deadline` has passed.
Reply<xcb_generic_event_t> nextEvent(xcb_connection_t* c, Clock::time_point deadline) {
  for (;;) {
    if (auto* e = xcb_poll_for_event(c)) return Reply<xcb_generic_event_t>(e);
    if (xcb_connection_has_error(c)) die("lost the X connection");
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return nullptr;
    pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
    const int timeout = static_cast<int>(std::min<long long>(left.count() + 1, 100));
    if (::poll(&fd, 1, timeout) < 0 && errno != EINTR) die("poll failed");
  }
}

xcb_screen_t* screenOf(xcb_connection_t* c, int number) {
  auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < number && it.rem; ++i) xcb_screen_next(&it);
  return it.data;
}

void sync(xcb_connection_t* c) {
  Reply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

std::uint32_t windowPid(xcb_connection_t* c, xcb_window_t window) {
  static const char name[] = "_NET_WM_PID";
  Reply<xcb_intern_atom_reply_t> atom(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr));
  if (!atom || atom->atom == XCB_NONE) return 0;
  Reply<xcb_get_property_reply_t> prop(xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
  if (!prop || xcb_get_property_value_length(prop.get()) != 4) return 0;
  std::uint32_t pid;
  std::memcpy(&pid, xcb_get_property_value(prop.get()), sizeof pid);
  return pid;
}

int mapTime(xcb_connection_t* c, xcb_screen_t* screen, char** program) {
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
  sync(c);  // the selection is in force before the program exists

  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) die("fork failed");
  if (pid == 0) {
    ::dup2(STDERR_FILENO, STDOUT_FILENO);  // our stdout carries the result only
    ::execvp(program[0], program);
    std::perror(program[0]);
    std::_Exit(127);
  }

  // The window manager reparents the program's window into a frame, then maps
  // the frame; both are reported to the root's substructure listeners.
  xcb_window_t client = XCB_NONE;
  xcb_window_t frame = XCB_NONE;
  const auto deadline = start + std::chrono::seconds(30);
  while (auto e = nextEvent(c, deadline)) {
    const auto type = e->response_type & 0x7f;
    if (type == XCB_REPARENT_NOTIFY) {
      auto* ev = reinterpret_cast<xcb_reparent_notify_event_t*>(e.get());
      if (ev->event == screen->root &&
          windowPid(c, ev->window) == static_cast<std::uint32_t>(pid)) {
        client = ev->window;
        frame = ev->parent;
      }
    } else if (type == XCB_MAP_NOTIFY) {
      auto* ev = reinterpret_cast<xcb_map_notify_event_t*>(e.get());
      // Without a window manager (or before it manages) the window itself is mapped on the root.
      if (frame == XCB_NONE && !ev->override_redirect &&
          windowPid(c, ev->window) == static_cast<std::uint32_t>(pid)) {
        client = frame = ev->window;
      }
      if (frame != XCB_NONE && ev->window == frame) {
        const auto mapped = Clock::now();
        std::printf("%d %u %lld\n", static_cast<int>(pid), client, micros(mapped - start));
        return 0;
      }
    }
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) die("the program ended before its window showed");
  }
  ::kill(pid, SIGKILL);
  die("no window was mapped within 30 s");
}

int clickTimes(xcb_connection_t* c, xcb_screen_t* screen, char** args) {
  const auto window = static_cast<xcb_window_t>(std::strtoul(args[0], nullptr, 0));
  const auto x = static_cast<std::int16_t>(std::atoi(args[1]));
  const auto y = static_cast<std::int16_t>(std::atoi(args[2]));
  const int lx = std::atoi(args[3]), ly = std::atoi(args[4]);
  const int lw = std::atoi(args[5]), lh = std::atoi(args[6]);
  const int count = std::atoi(args[7]);

  const xcb_query_extension_reply_t* damageExt = xcb_get_extension_data(c, &xcb_damage_id);
  const xcb_query_extension_reply_t* testExt = xcb_get_extension_data(c, &xcb_test_id);
  if (!damageExt || !damageExt->present) die("the X server has no DAMAGE extension");
  if (!testExt || !testExt->present) die("the X server has no XTEST extension");
  Reply<xcb_damage_query_version_reply_t>(xcb_damage_query_version_reply(
      c, xcb_damage_query_version(c, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION), nullptr));

  Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
      c, xcb_translate_coordinates(c, window, screen->root, x, y), nullptr));
  if (!at) die("no such window");

  const xcb_damage_damage_t damage = xcb_generate_id(c);
  xcb_damage_create(c, damage, window, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
  xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen->root, at->dst_x, at->dst_y,
                      0);
  sync(c);

  auto drain = [&](std::chrono::milliseconds quiet) {
    const auto until = Clock::now() + quiet;
    while (nextEvent(c, until)) {
    }
  };
  const std::uint8_t damageNotify = damageExt->first_event + XCB_DAMAGE_NOTIFY;
  int failures = 0;
  drain(std::chrono::milliseconds(200));
  for (int i = 0; i < count; ++i) {
    xcb_test_fake_input(c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(c);
    drain(std::chrono::milliseconds(40));  // the pressed look is drawn and out of the way

    const auto released = Clock::now();
    xcb_test_fake_input(c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(c);
    long long took = -1;
    const auto deadline = released + std::chrono::seconds(2);
    while (auto e = nextEvent(c, deadline)) {
      if ((e->response_type & 0x7f) != damageNotify) continue;
      const auto& area = reinterpret_cast<xcb_damage_notify_event_t*>(e.get())->area;
      if (area.x < lx + lw && lx < area.x + area.width && area.y < ly + lh &&
          ly < area.y + area.height) {
        took = micros(Clock::now() - released);
        break;
      }
    }
    if (took < 0) ++failures;
    std::printf("%lld\n", took);
    std::fflush(stdout);
    drain(std::chrono::milliseconds(60));
  }
  xcb_damage_destroy(c, damage);
  sync(c);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (!((mode == "map" && argc > 2) || (mode == "click" && argc == 10))) {
    std::fprintf(stderr,
                 "usage: tallimo_xprobe map PROGRAM [ARGS...]\n"
                 "       tallimo_xprobe click WINDOW X Y LX LY LW LH COUNT\n");
    return 2;
  }
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(c)) die("cannot open the display");
  xcb_screen_t* screen = screenOf(c, screenNumber);
  const int status = mode == "map" ? mapTime(c, screen, argv + 2) : clickTimes(c, screen, argv + 2);
  xcb_disconnect(c);
  return status;
}
