#pragma once

// One running window per program folder, and the command line's way into it.
// The claim is a lock file beside a Unix datagram socket in a directory only
// this user can reach: $XDG_RUNTIME_DIR, else ${TMPDIR:-/tmp}/tallimo-<uid>.
// Starts from sessions that see different such places still meet on an flock
// of the program folder itself, so there is never a second writer of the day
// record. No toolkit here.
//
// A request is one datagram of exactly one command byte that carries, as
// SCM_RIGHTS, one end of a socketpair(AF_UNIX, SOCK_DGRAM) made by the
// sender; the holder writes its answer there as one datagram of the 4 bytes
// of `encodeReply`, most significant first, and closes it.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/Command.h"

namespace tallimo::posix {

class SingleInstance {
 public:
  enum class Outcome {
    Claimed,     // this process now holds the folder: `instance` is set
    Answered,    // the running instance took the command; `reply` is its answer
    NotRunning,  // only when not claiming: no live process holds the folder
    NoAnswer,    // a live holder did not answer within a second
    Refused,     // a live holder exists and there is no channel to reach it, or
                 // no way to make sure that none exists
  };
  struct Result {
    Outcome outcome;
    std::unique_ptr<SingleInstance> instance;
    StepReply reply;
    // With NoAnswer and Refused: one line for stderr, to follow "tallimo: ",
    // without the newline.
    std::string message;
  };

  // When no live process holds `dir` (links resolved), claims it (`claim`)
  // or answers NotRunning; otherwise hands `command` to the holder, wherever
  // among this user's places it listens, and waits up to a second in all for
  // its answer. A holder that answers later does not act on the command. Prints a line only when it
  // has to fall back from a $XDG_RUNTIME_DIR that is set, or cannot use a place.
  static Result claimOrSend(const std::filesystem::path& dir, Command command, bool claim);

  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  ~SingleInstance() { release(); }

  // The socket to watch for readability; -1 when there is none.
  int fd() const { return socket_; }
  // Takes what is pending without blocking, a bounded number per call (a
  // flood must not stall the event loop; the rest keeps the socket readable).
  // Calls `answer` for each request of exactly one known byte with one
  // descriptor, sends the reply back through it, and calls `take` only when
  // the sender got it. Anything else is dropped, with every descriptor that
  // came along.
  void serve(const std::function<StepReply(Command)>& answer,
             const std::function<void(Command, const StepReply&)>& take);
  // Removes the socket and the lock file and lets the claim go; idempotent,
  // and only closes and unlinks, so it is fit to call right before _Exit.
  void release() noexcept;

 private:
  friend class ClaimAttempt;
  SingleInstance() = default;

  int lock_ = -1;
  int socket_ = -1;
  int folder_ = -1;
  std::string lockPath_;
  std::string socketPath_;
};

}  // namespace tallimo::posix
