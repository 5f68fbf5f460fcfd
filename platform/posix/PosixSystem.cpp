#include "platform/posix/PosixSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <utility>

namespace tallimo::posix {
namespace {

class PosixFile final : public BinaryFile {
 public:
  PosixFile(std::string path, int fd, int writeErrno)
      : path_(std::move(path)), fd_(fd), writeErrno_(writeErrno) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  std::size_t read(std::uint64_t offset, std::span<std::byte> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t n =
          ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) fail(FileOp::Read, errno);
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  // One call: a regular file takes all of a write, or part of it where the
  // disk fills or a size limit is reached; a part fails the save.
  void write(std::uint64_t offset, std::span<const std::byte> data) override {
    if (writeErrno_ != 0) fail(FileOp::Write, writeErrno_);
    ssize_t n;
    do n = ::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset));
    while (n < 0 && errno == EINTR);
    if (n < 0) fail(FileOp::Write, errno);
    if (static_cast<std::size_t>(n) < data.size()) fail(FileOp::Write, ENOSPC);
    dirty_ = true;
  }

  std::uint64_t length() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) fail(FileOp::Read, errno);
    return static_cast<std::uint64_t>(st.st_size);
  }

  void close() override {
    const int fd = std::exchange(fd_, -1);
    // Written data must reach the disk before we call it saved.
    if (dirty_ && ::fsync(fd) != 0 && errno != EINVAL) {
      const int err = errno;
      ::close(fd);
      fail(FileOp::Close, err);
    }
    if (::close(fd) != 0 && errno != EINTR) fail(FileOp::Close, errno);
  }

 private:
  [[noreturn]] void fail(FileOp op, int err) const {
    throw fileError(op, path_, errnoToErrorNumber(err), errnoReason(err));
  }

  std::string path_;
  int fd_;
  int writeErrno_;
  bool dirty_ = false;
};

}  // namespace

std::unique_ptr<BinaryFile> openFile(const std::filesystem::path& path) {
  const std::string name = path.string();
  int fd;
  do fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  while (fd < 0 && errno == EINTR);
  if (fd >= 0) return std::make_unique<PosixFile>(name, fd, 0);
  const int rwErr = errno;
  if (rwErr == EACCES || rwErr == EROFS || rwErr == EPERM) {
    const int ro = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (ro >= 0 && ::fstat(ro, &st) == 0 && !S_ISDIR(st.st_mode))
      return std::make_unique<PosixFile>(name, ro, rwErr);
    if (ro >= 0) ::close(ro);
  }
  throw fileError(FileOp::Open, name, errnoToErrorNumber(rwErr), errnoReason(rwErr));
}

LocalTime localNow() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
          tm.tm_hour,        tm.tm_min,     tm.tm_sec > 59 ? 59 : tm.tm_sec};
}

std::filesystem::path executableDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::canonical("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path();
  return exe.parent_path();
}

std::string errnoReason(int err) {
  switch (err) {
    case ENOENT:
      return "ファイルまたはフォルダーが見つかりません。";
    case EACCES:
    case EPERM:
      return "アクセスが拒否されました。";
    case EROFS:
      return "読み取り専用のファイル システムです。";
    case ENOSPC:
      return "ディスクの空き容量が不足しています。";
    case EDQUOT:
      return "ディスク クォータを超えました。";
    case EISDIR:
      return "同じ名前のフォルダーがあります。";
    case ENOTDIR:
      return "パスの途中がフォルダーではありません。";
    case EIO:
      return "デバイス I/O エラーが発生しました。";
    case EMFILE:
    case ENFILE:
      return "開いているファイルが多すぎます。";
    case ENAMETOOLONG:
      return "パスが長すぎます。";
    case ESPIPE:
    case ENXIO:
      return "通常のファイルではありません。";
    case ELOOP:
      return "シンボリック リンクが多すぎます。";
    case EFBIG:
      return "ファイルが大きすぎます。";
    case EBUSY:
    case ETXTBSY:
      return "ファイルが使用中です。";
    default:
      // Every reason shown is Japanese; the number lets a helper look it up.
      return "システム エラー " + std::to_string(err) + " が発生しました。";
  }
}

int errnoToErrorNumber(int err) {
  switch (err) {
    case ENOENT:
      return kErrFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrPermissionDenied;
    case ENOSPC:
    case EDQUOT:
      return kErrDiskFull;
    case EIO:
      return kErrDeviceIo;
    default:
      return kErrPathAccess;
  }
}

}  // namespace tallimo::posix
