// Layer: platform
#include "platform/replacing_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "platform/posix/errno_map.h"

namespace vorlund {
namespace {

DWORD lastError() noexcept {
  return win32ErrorFromErrno(errno);
}

// The folder's entry for the renamed file reaches the disk with the folder's own fsync.
DWORD syncFolder(const std::filesystem::path& folder) noexcept {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return lastError();
  const DWORD error = ::fsync(fd) == 0 ? ERROR_SUCCESS : lastError();
  ::close(fd);
  return error;
}

}  // namespace

DWORD createNewFile(const std::filesystem::path& path, NativeHandle& handle) {
  // Mode 0666 less the umask, as any new file of the user's.
  handle = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (handle >= 0) return ERROR_SUCCESS;
  return errno == EEXIST ? ERROR_FILE_EXISTS : lastError();
}

DWORD ReplacingFile::write(const void* data, std::size_t size) noexcept {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(handle_, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return ERROR_SUCCESS;
}

DWORD ReplacingFile::commit() {
  if (handle_ < 0) return ERROR_INVALID_HANDLE;
  DWORD error = ::fsync(handle_) == 0 ? ERROR_SUCCESS : lastError();
  if (::close(handle_) != 0 && error == ERROR_SUCCESS) error = lastError();
  handle_ = -1;
  if (error == ERROR_SUCCESS && ::rename(temporary_.c_str(), target_.c_str()) != 0)
    error = lastError();
  if (error != ERROR_SUCCESS) {
    discard();
    return error;
  }
  temporary_.clear();
  return syncFolder(target_.parent_path());
}

void ReplacingFile::discard() noexcept {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace vorlund
