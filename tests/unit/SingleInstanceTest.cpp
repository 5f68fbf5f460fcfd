#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "platform/posix/SingleInstance.h"

namespace tallimo::posix {
namespace {

namespace fs = std::filesystem;
using Outcome = SingleInstance::Outcome;

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder);
    fs::create_directory_symlink(folder, link);
    mkdir(run.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    setenv("TMPDIR", root.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    fs::remove_all(root);
  }
  static SingleInstance::Result start(const fs::path& dir, Command c = Command::Show,
                                      bool claim = true) {
    return SingleInstance::claimOrSend(dir, c, claim);
  }
  void serve(SingleInstance& holder) {
    holder.serve([](Command c) { return StepReply{.count = static_cast<char>(c)}; },
                 [this](Command c, const StepReply&) { taken += static_cast<char>(c); });
  }

  const fs::path root = fs::temp_directory_path() / ("tallimo-si-" + std::to_string(getpid()));
  const fs::path run = root / "run", folder = root / "a", link = root / "link";
  const fs::path fallback = root / ("tallimo-" + std::to_string(geteuid()));
  std::string taken;
};

// What a holder killed with SIGKILL leaves behind is the other_folder_and_kill row's.
TEST_F(SingleInstanceTest, OneHolderPerFolderThatActsOnlyOnAnswersDelivered) {
  const auto fds = std::distance(fs::directory_iterator("/proc/self/fd"), {});
  auto holder = start(link);
  std::thread thread([&] {  // until two steps were taken or nothing comes for 2 s
    for (pollfd p{holder.instance->fd(), POLLIN, 0}; taken.size() < 2 && poll(&p, 1, 2000) == 1;)
      serve(*holder.instance);
  });
  EXPECT_EQ(start(folder, Command::Count).reply.count, 'C');  // answered, as nothing else is
  EXPECT_EQ(start(folder, Command::Status, false).reply.count, 'S');
  thread.join();
  EXPECT_EQ(start(root, Command::Status, false).outcome, Outcome::NotRunning);
  // A sender that gave up before the holder looked is never counted.
  EXPECT_EQ(start(folder, Command::Count).outcome, Outcome::NoAnswer);
  // Nor one that finds the holder's queue full, which does not answer either;
  // here a stranger filled it with bytes that are no step, which are skipped.
  sockaddr_un to{};
  socklen_t size = sizeof to;
  ASSERT_EQ(getsockname(holder.instance->fd(), reinterpret_cast<sockaddr*>(&to), &size), 0);
  const int flood = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  while (sendto(flood, "?", 1, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), size) == 1) continue;
  EXPECT_EQ(start(folder, Command::Count).outcome, Outcome::NoAnswer);
  close(flood);
  serve(*holder.instance);
  EXPECT_EQ(taken, "CS");
  holder.instance->release();
  auto next = start(folder);  // a second release leaves the files of a later start alone
  holder.instance->release();
  EXPECT_EQ(std::distance(fs::directory_iterator(run), {}), 2);  // its socket and lock
  for (const auto& file : fs::directory_iterator(run))  // which a kill leaves for our next start
    EXPECT_TRUE(file.is_socket() || file.status().permissions() == fs::perms(0600));
  next.instance.reset();
  EXPECT_TRUE(fs::is_empty(run));
  EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), fds);
}

TEST_F(SingleInstanceTest, OnlyAPrivateFolderOfTheUserCarriesTheChannel) {
  // Without a usable $XDG_RUNTIME_DIR: ${TMPDIR}/tallimo-<uid>, made 0700 and
  // never through a link or when others may enter; else only the program
  // folder's lock, which still refuses a second start.
  setenv("XDG_RUNTIME_DIR", "run", 1);
  fs::create_directory_symlink(run, fallback);
  EXPECT_EQ(start(folder).instance->fd(), -1);
  fs::remove(fallback);
  const mode_t mask = umask(0277);
  EXPECT_GE(start(folder).instance->fd(), 0);
  umask(mask);
  EXPECT_EQ(fs::symlink_status(fallback).permissions(), fs::perms::owner_all);  // no link
  fs::permissions(fallback, fs::perms::others_exec, fs::perm_options::add);
  auto first = start(folder);  // without a place: only the folder's lock refuses the next
  EXPECT_EQ(start(link).outcome, Outcome::Refused);
  first.instance.reset();
  // Root may enter any folder: one of another owner is no place for it either.
  fs::permissions(fallback, fs::perms::owner_all);
  EXPECT_TRUE(geteuid() ||
              (!chown(fallback.c_str(), 65534, 0) && start(folder).instance->fd() < 0));
  // A folder this user may not read cannot be locked: with no private place
  // to guard either, a start is refused, and the user was told why there is none.
  ASSERT_FALSE(rmdir(fallback.c_str()) || chmod(root.c_str(), 0555) || chmod(folder.c_str(), 0311));
  const auto asUser = [&] {
    if (geteuid() == 0 && setuid(65534) != 0) std::exit(99);
    const auto result = start(folder);
    std::exit(std::fputs(result.message.c_str(), stderr) < 0 ? 99 : int(result.outcome));
  };
  EXPECT_EXIT(asUser(), testing::ExitedWithCode(int(Outcome::Refused)),
              "falling back.*: Permission denied$");
  ASSERT_EQ(chmod(root.c_str(), 0755) | chmod(folder.c_str(), 0755), 0);
  // A runtime folder too deep for a socket's full name gets a shorter one.
  const fs::path deep = run / std::string(std::max(1, 84 - int(run.string().size())), 'd');
  ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
  const auto deepStart = start(folder);
  EXPECT_EQ(std::distance(fs::directory_iterator(deep), {}), 2);  // its socket and lock, there
}

}  // namespace
}  // namespace tallimo::posix
