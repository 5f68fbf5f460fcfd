#include "platform/posix/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include "core/InstanceName.h"

namespace tallimo::posix {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Long enough for a holder that is between taking the lock and binding, for
// one that answers from a nested event loop, and for one on a busy machine
// still busy with its start. A sender that gives up first finds its step
// never done, so this only bounds how long a shortcut can block.
constexpr auto kWait = std::chrono::seconds(3);
// Requests taken per serve(): the event loop gets its turn between batches.
constexpr int kBatch = 16;
constexpr int kHeldElsewhere = -1;
constexpr int kFailed = -2;  // errno set
constexpr int kNoFile = -3;  // none taken: no place, or a start that only asks

// A descriptor closed on every way out.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// The reason that follows what failed.
std::string because(int err) {
  return std::string(": ") + std::strerror(err);
}

struct Place {
  std::string lockPath;
  sockaddr_un addr{};
};

// The lock and socket of instance `name` in `dir`. The socket gets the bare
// hash when the full name would not fit sun_path; nothing when that does not.
std::optional<Place> placeIn(const std::string& dir, const std::string& name) {
  Place place;
  place.addr.sun_family = AF_UNIX;
  place.lockPath = dir + "/" + name + ".lock";
  std::string socketPath = dir + "/" + name + ".sock";
  if (socketPath.size() >= sizeof place.addr.sun_path)
    socketPath = dir + "/" + name.substr(name.find('-') + 1);
  if (socketPath.size() >= sizeof place.addr.sun_path) return std::nullopt;
  socketPath.copy(place.addr.sun_path, socketPath.size());
  return place;
}

// Why `dir` cannot hold the channel (to follow its name), or nothing. Only a
// directory no other user can reach will do: whoever reaches the socket can
// count, and whoever can write there can squat the name.
std::string unfit(const std::string& dir, const struct stat& st) {
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
    return " is not a private directory";
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return because(errno);
  return {};
}

// ${TMPDIR:-/tmp}/tallimo-<uid>.
std::string fallbackDir() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/tallimo-" +
         std::to_string(::geteuid());
}

// A directory's place, or why there is none, to follow the directory's name.
struct Found {
  std::optional<Place> place;
  std::string problem;
};

Found placeInPrivate(const std::string& dir, const struct stat& st, const std::string& name) {
  if (std::string why = unfit(dir, st); !why.empty()) return {{}, why};
  if (auto place = placeIn(dir, name)) return {place, {}};
  return {{}, " is too long for a socket path"};
}

// A private directory that exists already, or nothing.
std::optional<Place> existingPlace(const std::string& dir, const std::string& name) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return std::nullopt;
  return placeInPrivate(dir, st, name).place;
}

Found xdgPlace(const char* xdg, const std::string& name) {
  if (xdg[0] != '/') return {{}, " is not an absolute path"};
  struct stat st {};
  if (::stat(xdg, &st) != 0) return {{}, because(errno)};
  return placeInPrivate(xdg, st, name);
}

// Made 0700 whatever the umask, and never taken through a link.
Found fallbackPlace(const std::string& dir, const std::string& name) {
  if (::mkdir(dir.c_str(), 0700) == 0) {
    if (::chmod(dir.c_str(), 0700) != 0) return {{}, because(errno)};
  } else if (errno != EEXIST) {
    return {{}, because(errno)};
  }
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return {{}, because(errno)};
  return placeInPrivate(dir, st, name);
}

// $XDG_RUNTIME_DIR, else the private directory that long-lived per-user tools
// fall back to: ${TMPDIR:-/tmp}/tallimo-<uid>. Nothing when neither will do;
// then only the folder lock guards.
std::optional<Place> privatePlace(const std::string& name) {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  Found fromXdg;
  if (xdg != nullptr && xdg[0] != '\0') {
    fromXdg = xdgPlace(xdg, name);
    if (fromXdg.place) return fromXdg.place;
  }
  const std::string dir = fallbackDir();
  const Found fallback = fallbackPlace(dir, name);
  if (!fallback.place)
    std::fprintf(stderr, "tallimo: %s%s; falling back to a lock on the program folder\n",
                 dir.c_str(), fallback.problem.c_str());
  else if (!fromXdg.problem.empty())
    std::fprintf(stderr, "tallimo: XDG_RUNTIME_DIR %s%s; using %s\n", xdg, fromXdg.problem.c_str(),
                 dir.c_str());
  return fallback.place;
}

// Every place a window of this user may listen at, the one this start would
// claim first: a window started from su, ssh or cron has another environment
// than the shortcut that counts in it.
std::vector<Place> listeningPlaces(const std::string& name) {
  std::vector<Place> places;
  if (auto own = privatePlace(name)) places.push_back(*own);
  for (const std::string& dir : {fallbackDir(), "/run/user/" + std::to_string(::geteuid())}) {
    auto other = existingPlace(dir, name);
    if (other && std::none_of(places.begin(), places.end(),
                              [&](const Place& p) { return p.lockPath == other->lockPath; }))
      places.push_back(*other);
  }
  return places;
}

// `fd` locked (exclusive to claim, shared to look), kHeldElsewhere or kFailed.
int lockOrClose(int fd, bool claim) {
  if (fd < 0) return kFailed;
  if (::flock(fd, (claim ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return fd;
  const int err = errno;
  ::close(fd);
  errno = err;
  return err == EWOULDBLOCK ? kHeldElsewhere : kFailed;
}

// The lock file, locked. A lock dies with its process, so a killed holder
// never leaves a stale claim.
int lockFile(const std::string& path, bool claim) {
  const int fd = claim ? ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)
                       : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  const int lock = lockOrClose(fd, claim);
  if (lock < 0 || !claim) return lock;
  // A leaving holder unlinks the file before it lets go: a lock on that
  // orphaned inode claims nothing, and the next round takes the file then
  // at the path.
  struct stat held {
  }, named{};
  if (::fstat(lock, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
      held.st_dev == named.st_dev && held.st_ino == named.st_ino)
    return lock;
  ::close(lock);
  return kHeldElsewhere;
}

// The program folder's own lock, where every start meets whatever private
// place it found. A folder the user may not read cannot be locked: kFailed.
int lockFolder(const fs::path& folder, bool claim) {
  return lockOrClose(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), claim);
}

// One command on its way to the holder, with the pair its answer comes back on.
class Request {
 public:
  enum Sent { Delivered, NotBound, Busy, Failed };

  Sent send(const sockaddr_un& to, Command command) {
    if (out_.get() < 0) {
      int pair[2];
      out_.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
      if (out_.get() < 0 || ::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0)
        return Failed;
      mine_.reset(pair[0]);
      theirs_.reset(pair[1]);
    }
    char byte = static_cast<char>(command);
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr_un*>(&to);
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    const int theirs = theirs_.get();
    std::memcpy(CMSG_DATA(c), &theirs, sizeof theirs);
    ssize_t n;
    do {
      n = ::sendmsg(out_.get(), &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n == 1) {
      theirs_.reset();  // the holder's now: its close must be the last
      return Delivered;
    }
    if (errno == ENOENT || errno == ECONNREFUSED) return NotBound;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Busy : Failed;
  }

  // The holder's answer, or nothing once `deadline` has passed. A sender
  // that gives up first shuts its end for reading, which the holder's send
  // then fails on: an answer that was not taken in time is never acted on.
  std::optional<StepReply> answer(Clock::time_point deadline) {
    pollfd ready{mine_.get(), POLLIN, 0};
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      const int n = ::poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::shutdown(mine_.get(), SHUT_RD);
        return take();  // one that came in just before
      }
      if (auto reply = take()) return reply;
      if (errno != EINTR && errno != EAGAIN) return std::nullopt;
    }
  }

 private:
  std::optional<StepReply> take() {
    unsigned char word[5];
    const ssize_t got = ::recv(mine_.get(), word, sizeof word, MSG_DONTWAIT);
    if (got != 4) {
      if (got >= 0) errno = EPROTO;
      return std::nullopt;
    }
    return decodeReply(std::uint32_t{word[0]} << 24 | std::uint32_t{word[1]} << 16 |
                       std::uint32_t{word[2]} << 8 | word[3]);
  }

 private:
  Fd out_, mine_, theirs_;
};

int listenAt(const sockaddr_un& addr) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // A leftover socket file of a killed holder would make bind fail.
  if (fd < 0 || (::unlink(addr.sun_path) != 0 && errno != ENOENT) ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    // The claim stands without it: a second window would race this one over
    // the day record.
    std::fprintf(stderr, "tallimo: cannot listen on %s%s\n", addr.sun_path, because(errno).c_str());
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

// One start's way to its outcome. Each round probes every place for a
// holder, which takes the command, and when none listens there, claims the
// folder, or (only asking) tells whether anyone holds it. A holder may be
// just arriving or leaving, so rounds go on until one decides or time is up.
class ClaimAttempt {
 public:
  using Result = SingleInstance::Result;
  using Outcome = SingleInstance::Outcome;

  ClaimAttempt(fs::path folder, Command command, bool claim)
      : folder_(std::move(folder)),
        command_(command),
        claim_(claim),
        places_(listeningPlaces(instanceName(folder_.string()))),
        deadline_(Clock::now() + kWait) {
    if (!places_.empty()) place_ = places_.front();
  }

  Result run() {
    for (;;) {
      if (auto done = probe()) return std::move(*done);
      if (auto done = claim()) return std::move(*done);
      if (Clock::now() >= deadline_) return giveUp();
      const timespec pause{0, 5'000'000};
      ::nanosleep(&pause, nullptr);
    }
  }

 private:
  static Result fail(Outcome outcome, const std::string& line) {
    return {outcome, nullptr, {}, line};
  }
  Result silent() const {
    return fail(Outcome::NoAnswer,
                "the Tallimo running from " + folder_.string() + " does not answer");
  }

  // A holder at any place: the command handed over, and its answer.
  std::optional<Result> probe() {
    for (const Place& at : places_) {
      const int probe = lockFile(at.lockPath, false);
      if (probe >= 0) ::close(probe);
      if (probe != kHeldElsewhere) continue;
      const Request::Sent sent = request_.send(at.addr, command_);
      const int err = errno;
      if (sent == Request::Delivered) {
        if (auto reply = request_.answer(deadline_))
          return Result{Outcome::Answered, nullptr, *reply, {}};
        return silent();
      }
      if (sent == Request::Failed)
        return fail(Outcome::Refused,
                    "cannot reach the Tallimo running from " + folder_.string() + because(err));
      busy_ = busy_ || sent == Request::Busy;
    }
    return std::nullopt;
  }

  // No holder listens: the claim, or NotRunning when only asking; nothing
  // while a holder that none of this user's places leads to (or one still
  // starting) has the folder.
  std::optional<Result> claim() {
    std::unique_ptr<SingleInstance> self(new SingleInstance);
    const int lock = place_ && claim_ ? lockFile(place_->lockPath, true) : kNoFile;
    if (lock == kHeldElsewhere) return std::nullopt;
    if (lock == kFailed) {
      std::fprintf(stderr, "tallimo: cannot lock %s%s\n", place_->lockPath.c_str(),
                   because(errno).c_str());
      place_.reset();  // from now on the folder lock alone guards
    }
    if (lock >= 0) {
      self->lock_ = lock;
      self->lockPath_ = place_->lockPath;
    }
    const int guard = lockFolder(folder_, claim_);
    const int err = errno;
    if (guard == kFailed && !place_)
      return fail(Outcome::Refused, "cannot make sure that no other Tallimo runs from " +
                                        folder_.string() + because(err));
    if (guard == kHeldElsewhere) return std::nullopt;  // `self` lets its lock go
    if (!claim_) {
      if (guard >= 0) ::close(guard);
      return Result{Outcome::NotRunning, nullptr, {}, {}};
    }
    self->folder_ = guard >= 0 ? guard : -1;
    if (place_) self->socket_ = listenAt(place_->addr);
    if (self->socket_ >= 0) self->socketPath_ = place_->addr.sun_path;
    return Result{Outcome::Claimed, std::move(self), {}, {}};
  }

  Result giveUp() const {
    if (busy_) return silent();
    return fail(Outcome::Refused, "Tallimo is already running from " + folder_.string() +
                                      ", but this start cannot reach it");
  }

  const fs::path folder_;
  const Command command_;
  const bool claim_;
  const std::vector<Place> places_;
  std::optional<Place> place_;  // where this start claims; dropped when its lock fails
  Request request_;
  bool busy_ = false;  // a holder's queue was full
  const Clock::time_point deadline_;
};

SingleInstance::Result SingleInstance::claimOrSend(const fs::path& dir, Command command,
                                                   bool claim) {
  std::error_code ec;
  const fs::path folder = fs::canonical(dir, ec);
  if (ec)
    return {Outcome::Refused, nullptr, {}, "cannot resolve " + dir.string() + ": " + ec.message()};
  return ClaimAttempt(folder, command, claim).run();
}

void SingleInstance::serve(const std::function<StepReply(Command)>& answer,
                           const std::function<void(Command, const StepReply&)>& take) {
  for (int i = 0; i < kBatch && socket_ >= 0; ++i) {
    char bytes[2];
    iovec iov{bytes, sizeof bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(socket_, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
    // Every descriptor that came along is closed, whatever the message.
    Fd reply;
    int fds = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t k = 0; k < count; ++k) {
        int fd;
        std::memcpy(&fd, CMSG_DATA(c) + k * sizeof fd, sizeof fd);
        if (fds++ == 0)
          reply.reset(fd);
        else
          ::close(fd);
      }
    }
    const auto command = n == 1 ? commandFromByte(bytes[0]) : std::nullopt;
    if (!command || fds > 1 || (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) continue;
    const StepReply said = answer(*command);
    const std::uint32_t w = encodeReply(said);
    const unsigned char word[4] = {
        static_cast<unsigned char>(w >> 24), static_cast<unsigned char>(w >> 16),
        static_cast<unsigned char>(w >> 8), static_cast<unsigned char>(w)};
    // Acted on only when the answer reached a sender still waiting for it.
    if (reply.get() >= 0 &&
        ::send(reply.get(), word, sizeof word, MSG_DONTWAIT | MSG_NOSIGNAL) == 4)
      take(*command, said);
  }
}

void SingleInstance::release() noexcept {
  // Unlinked while the lock is still held, so no newcomer's files are removed.
  if (socket_ >= 0) ::close(std::exchange(socket_, -1));
  if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
  if (!lockPath_.empty()) ::unlink(lockPath_.c_str());
  socketPath_.clear();
  lockPath_.clear();
  // The folder before the lock file: a start waiting on that finds both free.
  if (folder_ >= 0) ::close(std::exchange(folder_, -1));
  if (lock_ >= 0) ::close(std::exchange(lock_, -1));
}

}  // namespace tallimo::posix
