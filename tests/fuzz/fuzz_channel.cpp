// Any run of datagrams, each with or without descriptors, at the socket of a
// live claimed instance; serve() answers the well-formed ones. Input: records
// of one head byte (bits 0-1: length 0-3; bits 2-3: nothing, a reply socket,
// that socket twice, a pipe) followed by that many bytes.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/SingleInstance.h"

using namespace tallimo;
namespace fs = std::filesystem;

#define CHECK(c) (c) ? void() : (std::fprintf(stderr, "failed: %s\n", #c), std::abort())

namespace {

fs::path root;
std::unique_ptr<posix::SingleInstance> instance;
sockaddr_un address{};
int sender = -1;

long openFds() {
  return std::distance(fs::directory_iterator("/proc/self/fd"), {});
}

void cleanUp() {
  instance.reset();
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/tallimo-fuzz-XXXXXX";
  CHECK(::mkdtemp(name) != nullptr);
  root = name;
  CHECK(::mkdir((root / "run").c_str(), 0700) == 0);
  ::setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
  auto result = posix::SingleInstance::claimOrSend(root, Command::Show, true);
  CHECK(result.instance && result.instance->fd() >= 0);
  instance = std::move(result.instance);
  socklen_t size = sizeof address;
  CHECK(::getsockname(instance->fd(), reinterpret_cast<sockaddr*>(&address), &size) == 0);
  sender = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  CHECK(sender >= 0);
  std::atexit(cleanUp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const long fdsBefore = openFds();
  std::string sent, seen;
  // Our end of each pair or pipe, and the answer it must get (0: none).
  std::vector<std::pair<int, char>> ends;
  const auto serve = [&] {
    instance->serve(
        [&](Command c) {
          CHECK(commandFromByte(static_cast<char>(c)).has_value());
          return StepReply{.count = static_cast<char>(c)};
        },
        [&](Command c, const StepReply&) { seen += static_cast<char>(c); });
  };
  for (std::size_t at = 0; at < size && ends.size() < 64;) {
    const int head = data[at++];
    const std::size_t length = std::min<std::size_t>(head & 3, size - at);
    std::string bytes(reinterpret_cast<const char*>(data) + at, length);
    at += length;
    const int kind = (head >> 2) & 3;
    int pair[2] = {-1, -1};
    if (kind == 1 || kind == 2)
      CHECK(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) == 0);
    if (kind == 3) CHECK(::pipe2(pair, O_CLOEXEC) == 0);
    const std::size_t fds = kind == 0 ? 0 : kind == 2 ? 2 : 1;
    iovec iov{bytes.data(), bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr msg{&address, sizeof address, &iov, 1, control, CMSG_SPACE(fds * sizeof(int)), 0};
    *CMSG_FIRSTHDR(&msg) = {CMSG_LEN(fds * sizeof(int)), SOL_SOCKET, SCM_RIGHTS};
    std::fill_n(reinterpret_cast<int*>(CMSG_DATA(CMSG_FIRSTHDR(&msg))), fds, pair[1]);
    // A full queue is the holder's to drain, as its event loop would.
    int tries = 0;
    while (::sendmsg(sender, &msg, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
      CHECK(errno == EAGAIN && ++tries < 4);
      serve();
    }
    if (pair[1] >= 0) ::close(pair[1]);
    const bool wellFormed = length == 1 && commandFromByte(bytes[0]) && kind != 2;
    if (wellFormed && kind == 1) sent += bytes[0];  // taken only once answered
    if (pair[0] >= 0) ends.emplace_back(pair[0], wellFormed && kind == 1 ? bytes[0] : 0);
  }
  pollfd ready{instance->fd(), POLLIN, 0};
  while (::poll(&ready, 1, 0) > 0) serve();
  CHECK(seen == sent);
  for (const auto& [end, answer] : ends) {
    unsigned char got[5];
    const ssize_t n = ::recv(end, got, sizeof got, MSG_DONTWAIT);
    CHECK(answer != 0 ? n == 4 && got[3] == answer : n < 0);
    ::close(end);
  }
  CHECK(openFds() == fdsBefore);
  return 0;
}
