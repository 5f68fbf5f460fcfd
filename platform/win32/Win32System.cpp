#include "platform/win32/Win32System.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace tallimo::win32 {
namespace {

class Win32File final : public BinaryFile {
 public:
  Win32File(std::string path, HANDLE handle, DWORD writeError)
      : path_(std::move(path)), handle_(handle), writeError_(writeError) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }

  std::size_t read(std::uint64_t offset, std::span<std::byte> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      OVERLAPPED at = position(offset + done);
      DWORD n = 0;
      const auto want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 30));
      if (!::ReadFile(handle_, out.data() + done, want, &n, &at)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_HANDLE_EOF) break;
        fail(FileOp::Read, err);
      }
      if (n == 0) break;
      done += n;
    }
    return done;
  }

  // One call: a disk file takes all of a write or fails it; a part fails the save too.
  void write(std::uint64_t offset, std::span<const std::byte> data) override {
    if (writeError_ != ERROR_SUCCESS) fail(FileOp::Write, writeError_);
    OVERLAPPED at = position(offset);
    DWORD n = 0;
    if (!::WriteFile(handle_, data.data(), static_cast<DWORD>(data.size()), &n, &at))
      fail(FileOp::Write, ::GetLastError());
    if (n < data.size()) fail(FileOp::Write, ERROR_DISK_FULL);
    dirty_ = true;
  }

  std::uint64_t length() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_, &size)) fail(FileOp::Read, ::GetLastError());
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  void close() override {
    const HANDLE h = std::exchange(handle_, INVALID_HANDLE_VALUE);
    // Written data must reach the disk before we call it saved.
    if (dirty_ && !::FlushFileBuffers(h)) {
      const DWORD err = ::GetLastError();
      ::CloseHandle(h);
      fail(FileOp::Close, err);
    }
    if (!::CloseHandle(h)) fail(FileOp::Close, ::GetLastError());
  }

 private:
  static OVERLAPPED position(std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
  }
  [[noreturn]] void fail(FileOp op, DWORD err) const {
    throw fileError(op, path_, errorNumber(err), errorReason(err));
  }

  std::string path_;
  HANDLE handle_;
  DWORD writeError_;
  bool dirty_ = false;
};

HANDLE open(const std::wstring& path, DWORD access, DWORD disposition) {
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::unique_ptr<BinaryFile> openFile(const std::filesystem::path& path) {
  const std::wstring wide = path.wstring();
  const std::string name = narrow(wide);
  // Windows writes a read-only file for no one; Wine run by root would.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  DWORD rwErr = ERROR_ACCESS_DENIED;
  HANDLE h = INVALID_HANDLE_VALUE;
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) {
    h = open(wide, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (h != INVALID_HANDLE_VALUE) return std::make_unique<Win32File>(name, h, ERROR_SUCCESS);
    rwErr = ::GetLastError();
  }
  if (rwErr == ERROR_ACCESS_DENIED || rwErr == ERROR_WRITE_PROTECT) {
    h = open(wide, GENERIC_READ, OPEN_EXISTING);
    if (h != INVALID_HANDLE_VALUE) return std::make_unique<Win32File>(name, h, rwErr);
  }
  throw fileError(FileOp::Open, name, errorNumber(rwErr), errorReason(rwErr));
}

LocalTime localNow() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::string decimalSeparator() {
  wchar_t buf[8] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, buf, 8) <= 1) return ".";
  return narrow(buf);
}

std::wstring executableDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return L".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // truncated: try a longer buffer
  }
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring canonicalDirectory(const std::wstring& dir) {
  const HANDLE h =
      ::CreateFileW(dir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return dir;
  std::wstring path(MAX_PATH, L'\0');
  DWORD n = ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), 0);
  if (n >= path.size()) {  // the size it needs, terminator included
    path.resize(n);
    n = ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), 0);
  }
  ::CloseHandle(h);
  if (n == 0 || n >= path.size()) return dir;
  path.resize(n);
  return path;
}

std::filesystem::path programFile(std::string_view name) {
  static const std::wstring directory = executableDirectory();
  return std::filesystem::path(directory + L"\\" + widen(name));
}

std::string errorReason(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return "ファイルが見つかりません。";
    case ERROR_PATH_NOT_FOUND:
      return "パスが見つかりません。";
    case ERROR_ACCESS_DENIED:
      return "アクセスが拒否されました。";
    case ERROR_WRITE_PROTECT:
      return "メディアは書き込み禁止になっています。";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "ほかのプロセスがファイルを使用中です。";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "ディスクの空き容量が不足しています。";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "開いているファイルが多すぎます。";
    case ERROR_FILENAME_EXCED_RANGE:
      return "パスが長すぎます。";
    default:
      break;
  }
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring reason = n ? std::wstring(text, n) : L"";
  if (text) ::LocalFree(text);
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r')) reason.pop_back();
  return reason.empty() ? "エラー コード " + std::to_string(code) + " が発生しました。"
                        : narrow(reason);
}

int errorNumber(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return kErrFileNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return kErrPermissionDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return kErrDiskFull;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
      return kErrDeviceIo;
    default:
      return kErrPathAccess;
  }
}

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int len = static_cast<int>(utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, out.data(), n);
  return out;
}

std::string narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int len = static_cast<int>(utf16.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), len, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), len, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace tallimo::win32
