#include "platform/posix/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/InstanceName.h"

namespace tallimo::posix {
namespace {

namespace fs = std::filesystem;

constexpr char kComeForward = 'F';
// Long enough for a holder that is between taking the lock and binding.
constexpr auto kHandOverWait = std::chrono::seconds(1);
constexpr int kHeldElsewhere = -1;
constexpr int kFailed = -2;

void warn(const char* what, const std::string& path, int err) {
  std::fprintf(stderr, "tallimo: single instance: %s %s: %s\n", what, path.c_str(),
               std::strerror(err));
}

// The runtime directory only when no other user can reach into it: anyone who
// can reach the socket can raise our window or squat the name.
std::string privateRuntimeDir() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir == nullptr || dir[0] != '/') {
    std::fprintf(stderr, "tallimo: single instance: XDG_RUNTIME_DIR is not set\n");
    return {};
  }
  struct stat st {};
  if (::stat(dir, &st) != 0) {
    warn("cannot use", dir, errno);
    return {};
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    std::fprintf(stderr, "tallimo: single instance: %s is not a private directory\n", dir);
    return {};
  }
  return dir;
}

// The locked descriptor, kHeldElsewhere, or kFailed with errno set. The lock
// dies with its process, so a killed holder never leaves a stale claim.
int lockFile(const std::string& path) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return kFailed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      errno = err;
      return err == EWOULDBLOCK ? kHeldElsewhere : kFailed;
    }
    // A leaving holder unlinks the file before it lets go: a lock on that
    // orphaned inode claims nothing, so take the file now at the path.
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
      return fd;
    ::close(fd);
  }
  errno = EAGAIN;
  return kFailed;
}

// A leftover socket file of a killed holder would make bind fail.
int bindSocket(const sockaddr_un& addr) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if ((::unlink(addr.sun_path) != 0 && errno != ENOENT) ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

// 1 when the holder has the request, 0 when nobody is bound yet, -1 on failure.
int sendRequest(int fd, const sockaddr_un& addr) {
  ssize_t n;
  do {
    n = ::sendto(fd, &kComeForward, 1, MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (n < 0 && errno == EINTR);
  if (n == 1) return 1;
  return n < 0 && (errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN) ? 0 : -1;
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claimOrHandOver(const fs::path& dir) {
  std::unique_ptr<SingleInstance> self(new SingleInstance);
  const std::string runtime = privateRuntimeDir();
  if (runtime.empty()) return self;
  std::error_code ec;
  const fs::path folder = fs::canonical(dir, ec);
  if (ec) {
    warn("cannot resolve", dir.string(), ec.value());
    return self;
  }
  const std::string base = runtime + "/" + instanceName(folder.string());
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (base.size() + 5 >= sizeof addr.sun_path) {
    warn("path too long for a socket:", base, ENAMETOOLONG);
    return self;
  }
  const std::string socketPath = base + ".sock";
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);

  const std::string lockPath = base + ".lock";
  int sender = -1;
  const auto deadline = std::chrono::steady_clock::now() + kHandOverWait;
  // The lock is tried again on every round: the holder may be just leaving.
  for (;;) {
    const int lock = lockFile(lockPath);
    if (lock == kFailed) warn("cannot lock", lockPath, errno);
    if (lock != kHeldElsewhere) {
      if (sender >= 0) ::close(sender);
      if (lock == kFailed) return self;
      self->lock_ = lock;
      self->lockPath_ = lockPath;
      self->socket_ = bindSocket(addr);
      // Without a socket the claim still stands: a second window would race
      // this one over the day record.
      if (self->socket_ < 0)
        warn("cannot listen on", socketPath, errno);
      else
        self->socketPath_ = socketPath;
      return self;
    }
    if (sender < 0) sender = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int sent = sender < 0 ? -1 : sendRequest(sender, addr);
    if (sent < 0) warn("cannot reach the running instance at", socketPath, errno);
    if (sent != 0) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "tallimo: single instance: the one running from %s does not answer\n",
                   folder.c_str());
      break;
    }
    const timespec pause{0, 5'000'000};
    ::nanosleep(&pause, nullptr);
  }
  if (sender >= 0) ::close(sender);
  // A live process holds this folder: never start a second window beside it.
  return nullptr;
}

SingleInstance::~SingleInstance() {
  // Unlinked while the lock is still held, so no newcomer's files are removed.
  if (socket_ >= 0) ::close(socket_);
  if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
  if (!lockPath_.empty()) ::unlink(lockPath_.c_str());
  if (lock_ >= 0) ::close(lock_);
}

bool SingleInstance::takeRequest() {
  if (socket_ < 0) return false;
  bool asked = false;
  // Bounded, so that a flood cannot stall the event loop; the rest waits for
  // the next readiness.
  for (int i = 0; i < 16; ++i) {
    char message[2];
    const ssize_t n = ::recv(socket_, message, sizeof message, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    asked = asked || (n == 1 && message[0] == kComeForward);
  }
  return asked;
}

}  // namespace tallimo::posix
