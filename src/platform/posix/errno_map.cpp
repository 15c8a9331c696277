// Layer: platform
#include "platform/posix/errno_map.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/error_codes.h"
#include "platform/path.h"

namespace vorlund {
namespace {

// True when the folder part of `path` exists as a folder (the current folder when the path
// has no separator).
bool parentFolderExists(const char* path) noexcept {
  const Path parent = Path::fromUtf8(path).parent();
  if (!parent.valid()) return false;
  if (parent.length() == std::strlen(path)) return true;
  struct stat info {};
  return stat(parent.empty() ? "/" : parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

DWORD win32ErrorFromErrno(int error) noexcept {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case EAGAIN:
      return ERROR_LOCK_VIOLATION;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case EDQUOT:
      return ERROR_NOT_ENOUGH_QUOTA;
    case EBUSY:
      return ERROR_BUSY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOSYS:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    case EFBIG:
    case EOVERFLOW:
      return ERROR_INVALID_DATA;
    case ELOOP:  // O_NOFOLLOW met a symbolic link
      return ERROR_CANT_ACCESS_FILE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

DWORD win32ErrorFromErrno(int error, const char* path) noexcept {
  if (error == ENOENT && !parentFolderExists(path)) return ERROR_PATH_NOT_FOUND;
  return win32ErrorFromErrno(error);
}

}  // namespace vorlund
