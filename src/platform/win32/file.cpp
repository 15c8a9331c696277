#include "platform/file.h"

#include <windows.h>

namespace vorlund {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A disk file with one name that is no reparse point; anything else is refused.
DWORD checkRegularFile(HANDLE h) noexcept {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return GetLastError();
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ERROR_CANT_ACCESS_FILE;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ERROR_ACCESS_DENIED;
  if (GetFileType(h) != FILE_TYPE_DISK) return ERROR_BAD_FILE_TYPE;
  if (info.nNumberOfLinks != 1) return ERROR_TOO_MANY_LINKS;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD File::open(const Path& path, FileAccess access) noexcept {
  close();
  if (!path.valid()) return ERROR_FILENAME_EXCED_RANGE;
  DWORD desiredAccess = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  switch (access) {
    case FileAccess::appendAlways:
      // Reading the attributes lets the file be checked before anything is written.
      desiredAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
      disposition = OPEN_ALWAYS;
      break;
    case FileAccess::readExisting:
      break;
    case FileAccess::readWriteAlways:
      desiredAccess = GENERIC_READ | GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      attributes = FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
      break;
    case FileAccess::readWriteExisting:
      desiredAccess = GENERIC_READ | GENERIC_WRITE;
      break;
  }
  // The link or junction itself is opened, never what it points to, and then refused.
  const HANDLE h = CreateFileW(path.c_str(), desiredAccess, kShareAll, nullptr, disposition,
                               attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  const DWORD error = checkRegularFile(h);
  if (error != ERROR_SUCCESS) {
    CloseHandle(h);
    return error;
  }
  handle_ = h;
  return ERROR_SUCCESS;
}

void File::close() noexcept {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

bool File::isOpen() const noexcept {
  return handle_ != INVALID_HANDLE_VALUE;
}

DWORD File::read(void* buffer, std::uint32_t size, std::uint32_t& bytesRead) noexcept {
  DWORD n = 0;
  const BOOL ok = ReadFile(handle_, buffer, size, &n, nullptr);
  bytesRead = n;
  return ok ? ERROR_SUCCESS : GetLastError();
}

DWORD File::write(const void* data, std::uint32_t size) noexcept {
  DWORD written = 0;
  return WriteFile(handle_, data, size, &written, nullptr) ? ERROR_SUCCESS : GetLastError();
}

DWORD File::tryLockExclusive() noexcept {
  OVERLAPPED at{};
  return LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                    MAXDWORD, &at)
             ? ERROR_SUCCESS
             : GetLastError();
}

void File::restrictToWriters() noexcept {}

bool queryFileSize(const Path& path, std::uint64_t& size) noexcept {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!path.valid() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
    return false;
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

DWORD moveFileReplacing(const Path& from, const Path& to) noexcept {
  if (!from.valid() || !to.valid()) return ERROR_FILENAME_EXCED_RANGE;
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? ERROR_SUCCESS
                                                                          : GetLastError();
}

}  // namespace vorlund
