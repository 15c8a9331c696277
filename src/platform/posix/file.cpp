// Layer: platform
#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/errno_map.h"

namespace vorlund {
namespace {

// A file made here may be written by its owner and the owner's group (the data folder's group
// where the folder has the set-group-ID bit), whatever the umask; every user may read it.
// Nobody else may write, so nobody else can truncate a file the effect has mapped.
constexpr mode_t kCreateMode = 0664;

// Never through a link, never blocked by a FIFO or device (O_NONBLOCK is cleared again once
// the file is known to be regular), never inherited by a child process.
constexpr int kSafeFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

int openFlags(FileAccess access) noexcept {
  switch (access) {
    case FileAccess::appendAlways:
      return O_WRONLY | O_APPEND | O_CREAT | kSafeFlags;
    case FileAccess::readExisting:
      return O_RDONLY | kSafeFlags;
    case FileAccess::readWriteAlways:
      return O_RDWR | O_CREAT | kSafeFlags;
    case FileAccess::readWriteExisting:
      return O_RDWR | kSafeFlags;
  }
  return O_RDONLY | kSafeFlags;
}

DWORD checkRegularFile(int fd) noexcept {
  struct stat info {};
  if (fstat(fd, &info) != 0) return win32ErrorFromErrno(errno);
  // A read-only open of a folder succeeds on Linux; CreateFileW refuses it.
  if (S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
  if (!S_ISREG(info.st_mode)) return ERROR_BAD_FILE_TYPE;
  if (info.st_nlink != 1) return ERROR_TOO_MANY_LINKS;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return win32ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

// The folder that holds `path`, opened as itself (never through a link) for opening the file
// relative to it; `name` is set to the file's name within it.
DWORD openFolder(const Path& path, int& folder, const char*& name) noexcept {
  const Path parent = path.parent();
  const bool bare = parent.length() == path.length();
  name = bare ? path.c_str() : path.c_str() + parent.length() + 1;
  const char* text = bare ? "." : parent.empty() ? "/" : parent.c_str();
  do {
    folder = ::open(text, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (folder < 0 && errno == EINTR);
  if (folder >= 0) return ERROR_SUCCESS;
  const int error = errno;
  struct stat info {};
  if (lstat(text, &info) == 0 && S_ISLNK(info.st_mode)) return kErrorReparsePoint;
  return error == ENOENT ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(error, text);
}

}  // namespace

DWORD File::open(const Path& path, FileAccess access, const char16_t*) noexcept {
  close();
  if (!path.valid()) return ERROR_FILENAME_EXCED_RANGE;
  const int flags = openFlags(access);
  int folder = -1;
  const char* name = nullptr;
  if (const DWORD error = openFolder(path, folder, name); error != ERROR_SUCCESS) return error;
  int fd;
  bool created = false;
  do {
    // A file made now gets its mode exactly; one that exists keeps the mode it has.
    fd = (flags & O_CREAT) != 0 ? ::openat(folder, name, flags | O_EXCL, kCreateMode) : -1;
    created = fd >= 0;
    if (fd < 0 && ((flags & O_CREAT) == 0 || errno == EEXIST))
      fd = ::openat(folder, name, flags & ~O_CREAT, kCreateMode);
  } while (fd < 0 && errno == EINTR);
  const int openError = errno;
  ::close(folder);
  if (fd < 0) return win32ErrorFromErrno(openError, path.c_str());
  DWORD error = checkRegularFile(fd);
  if (error == ERROR_SUCCESS && created && fchmod(fd, kCreateMode) != 0)
    error = win32ErrorFromErrno(errno);
  if (error != ERROR_SUCCESS) {
    ::close(fd);
    return error;
  }
  handle_ = fd;
  return ERROR_SUCCESS;
}

void File::close() noexcept {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
}

bool File::isOpen() const noexcept {
  return handle_ >= 0;
}

DWORD File::read(void* buffer, std::uint32_t size, std::uint32_t& bytesRead) noexcept {
  bytesRead = 0;
  ssize_t n;
  do {
    n = ::read(handle_, buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return win32ErrorFromErrno(errno);
  bytesRead = static_cast<std::uint32_t>(n);
  return ERROR_SUCCESS;
}

DWORD File::write(const void* data, std::uint32_t size) noexcept {
  ssize_t n;
  do {
    n = ::write(handle_, data, size);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? win32ErrorFromErrno(errno) : ERROR_SUCCESS;
}

DWORD File::tryLockExclusive() noexcept {
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  if (fcntl(handle_, F_OFD_SETLK, &range) == 0) return ERROR_SUCCESS;
  return errno == EAGAIN || errno == EACCES ? ERROR_LOCK_VIOLATION : win32ErrorFromErrno(errno);
}

void File::restrictToWriters() noexcept {
  struct stat info {};
  if (fstat(handle_, &info) == 0 && info.st_uid == geteuid() && (info.st_mode & 07) != 0)
    fchmod(handle_, info.st_mode & 0770);
}

bool queryFileSize(const Path& path, std::uint64_t& size) noexcept {
  struct stat info {};
  if (!path.valid() || lstat(path.c_str(), &info) != 0) return false;
  size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
  return true;
}

DWORD moveFileReplacing(const Path& from, const Path& to) noexcept {
  if (!from.valid() || !to.valid()) return ERROR_FILENAME_EXCED_RANGE;
  return ::rename(from.c_str(), to.c_str()) == 0 ? ERROR_SUCCESS
                                                 : win32ErrorFromErrno(errno, from.c_str());
}

}  // namespace vorlund
