#pragma once

// One running window per program folder, through a lock file and a Unix
// datagram socket in the user's private runtime directory. No toolkit here.

#include <filesystem>
#include <memory>
#include <string>

namespace tallimo::posix {

class SingleInstance {
 public:
  // Claims the program folder `dir` (links resolved) for this process, or,
  // when another live process holds it, asks that one to come forward and
  // returns nullptr. Without a private runtime directory it claims nothing
  // and returns an instance whose fd() is -1: the program then runs as before.
  static std::unique_ptr<SingleInstance> claimOrHandOver(const std::filesystem::path& dir);

  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  // Removes the socket and the lock file, then lets the claim go.
  ~SingleInstance();

  // The socket to watch for readability; -1 when there is none.
  int fd() const { return socket_; }
  // Drains what is pending without blocking; true when one of the messages
  // was the request to come forward. Everything else is dropped.
  bool takeRequest();

 private:
  SingleInstance() = default;

  int lock_ = -1;
  int socket_ = -1;
  std::string lockPath_;
  std::string socketPath_;
};

}  // namespace tallimo::posix
