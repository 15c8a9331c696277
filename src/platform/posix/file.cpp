#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/errno_map.h"

namespace vorlund {
namespace {

// Files are readable and writable by every user, as the control application may run as
// another user; the process umask narrows this as the administrator wishes.
constexpr mode_t kCreateMode = 0666;

int openFlags(FileAccess access) noexcept {
  switch (access) {
    case FileAccess::appendAlways:
      return O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    case FileAccess::readExisting:
      return O_RDONLY | O_CLOEXEC;
    case FileAccess::readWriteAlways:
      return O_RDWR | O_CREAT | O_CLOEXEC;
    case FileAccess::readWriteExisting:
      return O_RDWR | O_CLOEXEC;
  }
  return O_RDONLY | O_CLOEXEC;
}

}  // namespace

DWORD File::open(const Path& path, FileAccess access) noexcept {
  close();
  if (!path.valid()) return ERROR_FILENAME_EXCED_RANGE;
  int fd;
  do {
    fd = ::open(path.c_str(), openFlags(access), kCreateMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return win32ErrorFromErrno(errno, path.c_str());
  // A read-only open of a folder succeeds on Linux; CreateFileW refuses it.
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return ERROR_ACCESS_DENIED;
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

bool queryFileSize(const Path& path, std::uint64_t& size) noexcept {
  struct stat info {};
  if (!path.valid() || stat(path.c_str(), &info) != 0) return false;
  size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
  return true;
}

DWORD moveFileReplacing(const Path& from, const Path& to) noexcept {
  if (!from.valid() || !to.valid()) return ERROR_FILENAME_EXCED_RANGE;
  return ::rename(from.c_str(), to.c_str()) == 0 ? ERROR_SUCCESS
                                                 : win32ErrorFromErrno(errno, from.c_str());
}

}  // namespace vorlund
