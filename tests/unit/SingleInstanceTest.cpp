#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/posix/SingleInstance.h"

namespace tallimo::posix {
namespace {

namespace fs = std::filesystem;
using Outcome = SingleInstance::Outcome;

TEST(SingleInstance, OneHolderPerFolderReachedOnlyByWellFormedRequests) {
  const fs::path root = fs::temp_directory_path() / ("tallimo-si-" + std::to_string(getpid()));
  const fs::path run = root / "run", a = root / "a", link = root / "link";
  fs::create_directories(a);
  fs::create_directory_symlink(a, link);
  ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  const auto start = [](const fs::path& dir, Command command = Command::Show, bool claim = true) {
    return SingleInstance::claimOrSend(dir, command, claim);
  };
  const auto channel = [&](const fs::path& dir) { return start(dir).instance->fd(); };
  const auto openFds = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };

  // A holder killed with SIGKILL leaves its files behind, but no claim.
  if (fork() == 0) {
    if (auto held = start(a); held.instance) raise(SIGKILL);
    _exit(1);
  }
  int status = 0;
  ASSERT_TRUE(wait(&status) > 0 && WIFSIGNALED(status) && !fs::is_empty(run));
  EXPECT_EQ(start(link, Command::Status, false).outcome, Outcome::NotRunning);

  // The holder answers through the link and not for another folder, and no
  // descriptor stays open. Stray requests are the channel fuzzer's.
  const auto fds = openFds();
  auto first = start(link);
  std::string seen;
  const auto serve = [&] {
    first.instance->serve([&](Command c) { return seen += static_cast<char>(c); });
  };
  std::thread holder([&] {
    for (pollfd p{first.instance->fd(), POLLIN, 0}; seen.size() < 2 && poll(&p, 1, 2000) == 1;)
      serve();
  });
  EXPECT_EQ(start(a, Command::Count).reply, "C");
  EXPECT_EQ(start(a, Command::Status, false).reply, "CS");
  holder.join();
  EXPECT_EQ(start(root, Command::Status, false).outcome, Outcome::NotRunning);
  EXPECT_EQ(start(a, Command::Status, false).outcome, Outcome::NoAnswer);
  first.instance->release();
  first.instance->release();
  EXPECT_TRUE(fs::is_empty(run));
  EXPECT_EQ(openFds(), fds);

  // Without $XDG_RUNTIME_DIR (or a shorter socket name in one too long): a
  // private directory in TMPDIR, else only the folder's own lock, which refuses a second start.
  setenv("TMPDIR", root.c_str(), 1);
  setenv("XDG_RUNTIME_DIR", "run", 1);
  const fs::path fallback = root / ("tallimo-" + std::to_string(geteuid()));
  fs::create_directory_symlink(run, fallback);
  EXPECT_EQ(channel(a), -1);
  const fs::path deep = run / std::string(std::max(1, 84 - int(run.string().size())), 'd');
  ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
  EXPECT_GE(channel(a), 0);
  setenv("XDG_RUNTIME_DIR", "run", 1);
  fs::remove(fallback);
  const mode_t mask = umask(0277);
  EXPECT_GE(channel(a), 0);
  umask(mask);
  struct stat st {};
  EXPECT_TRUE(lstat(fallback.c_str(), &st) == 0 && st.st_mode == (S_IFDIR | 0700));
  fs::permissions(fallback, fs::perms::others_exec, fs::perm_options::add);
  first = start(a);
  EXPECT_EQ(first.instance->fd(), -1);
  EXPECT_EQ(start(link).outcome, Outcome::Refused);
  first.instance.reset();
  fs::permissions(fallback, fs::perms::owner_all);
  if (geteuid() == 0 && chown(fallback.c_str(), 65534, 0) == 0) {
    EXPECT_EQ(channel(a), -1);
  }
  unsetenv("TMPDIR");
  fs::remove_all(root);
}

}  // namespace
}  // namespace tallimo::posix
