#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/InstanceName.h"
#include "platform/posix/SingleInstance.h"

namespace tallimo::posix {

namespace fs = std::filesystem;

TEST(SingleInstance, OneHolderPerFolderThatNeitherAKillNorAStrayMessageUpsets) {
  const fs::path root = fs::temp_directory_path() / ("tallimo-si-" + std::to_string(getpid()));
  const fs::path run = root / "run";
  fs::create_directories(root / "a");
  ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
  fs::create_directory_symlink(root / "a", root / "link");
  setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  const std::string base = run / instanceName(fs::canonical(root / "a").string());

  // A holder killed with SIGKILL leaves its socket and lock file behind.
  if (fork() == 0) {
    if (auto held = SingleInstance::claimOrHandOver(root / "a"); held->fd() >= 0) raise(SIGKILL);
    _exit(1);
  }
  int status = 0;
  ASSERT_TRUE(wait(&status) > 0 && WIFSIGNALED(status) && fs::exists(base + ".sock"));

  auto first = SingleInstance::claimOrHandOver(root / "a");
  ASSERT_GE(first->fd(), 0);
  EXPECT_EQ(SingleInstance::claimOrHandOver(root / "link"), nullptr);
  EXPECT_TRUE(first->takeRequest());
  sockaddr_un addr{AF_UNIX, {}};
  (base + ".sock").copy(addr.sun_path, sizeof addr.sun_path - 1);
  const int stray = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(stray, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  for (const std::string bytes : {"X", "", "FF"})
    EXPECT_EQ(send(stray, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  close(stray);
  EXPECT_FALSE(first->takeRequest());
  EXPECT_GE(SingleInstance::claimOrHandOver(root)->fd(), 0);
  first.reset();
  EXPECT_TRUE(fs::is_empty(run));

  // A live holder without a socket: the start gives up after its deadline.
  const int lock = open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  EXPECT_EQ(SingleInstance::claimOrHandOver(root / "a"), nullptr);
  close(lock);

  fs::permissions(run, fs::perms::group_read | fs::perms::group_exec, fs::perm_options::add);
  EXPECT_EQ(SingleInstance::claimOrHandOver(root / "a")->fd(), -1);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(SingleInstance::claimOrHandOver(root / "a")->fd(), -1);
  fs::remove_all(root);
}

}  // namespace tallimo::posix
