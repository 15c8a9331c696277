// Layer: platform
// A file handle with the three ways this system opens files, and the two path queries the
// log needs. Every failure returns a Win32 error code (0 is success).
#pragma once

#include <cstdint>

#include "platform/com/com_types.h"
#include "platform/error_codes.h"
#include "platform/native_handle.h"
#include "platform/path.h"

namespace vorlund {

enum class FileAccess {
  // FILE_APPEND_DATA, OPEN_ALWAYS: every write lands at the current end of the file.
  appendAlways,
  // GENERIC_READ, OPEN_EXISTING.
  readExisting,
  // GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, temporary and not content-indexed.
  readWriteAlways,
  // GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING: a file someone else created, never made here.
  readWriteExisting,
};

class File {
 public:
  File() noexcept = default;
  ~File() { close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens with every sharing mode allowed (read, write, delete), close-on-exec, never
  // following a link or reparse point and never blocking on a pipe or device. Only a regular
  // file with exactly one link is accepted: a folder is refused with ERROR_ACCESS_DENIED (as
  // CreateFileW refuses it), a link or reparse point with ERROR_CANT_ACCESS_FILE, anything
  // else that is not a regular file with ERROR_BAD_FILE_TYPE, a file with more than one
  // name with ERROR_TOO_MANY_LINKS. The folder that holds the file is opened first, itself
  // never through a link: a folder that is a link or reparse point is refused with
  // kErrorReparsePoint, and a file that resolves outside that folder with kErrorOutsideFolder
  // (the file is opened relative to the folder on Linux; on Windows the folder is held while
  // their final paths are compared). Someone who may write the folder, or its parent, but not
  // the place a link points to thus cannot make this process write there. On Windows a file
  // this call creates gets the protected access list of `createdAccess` (SDDL; the owner stays
  // the creator) instead of the folder's inherited one; elsewhere it is ignored.
  DWORD open(const Path& path, FileAccess access, const char16_t* createdAccess = nullptr) noexcept;
  void close() noexcept;
  bool isOpen() const noexcept;

  // One read of up to `size` bytes; `bytesRead` tells how many arrived.
  DWORD read(void* buffer, std::uint32_t size, std::uint32_t& bytesRead) noexcept;
  // One write call; a short write is not retried.
  DWORD write(const void* data, std::uint32_t size) noexcept;
  // Takes an exclusive advisory lock on the whole file without waiting, held until the file
  // is closed; ERROR_LOCK_VIOLATION while another handle holds one. On Linux an open file
  // description's write lock, which only a handle open for writing may take, and which the
  // file's mode then keeps from whoever may not write it (see restrictToWriters); LockFileEx
  // on Windows. Only cooperating writers take it; the effect never does.
  DWORD tryLockExclusive() noexcept;
  // Drops every permission of users outside the owner and group from a file this user owns
  // (0660), so that nobody who may not write it can open it to hold a lock. Does nothing on
  // Windows, where the file's own access list (see open) does that.
  void restrictToWriters() noexcept;

  NativeHandle handle() const noexcept { return handle_; }

 private:
#if VORLUND_WINDOWS
  NativeHandle handle_ = INVALID_HANDLE_VALUE;
#else
  NativeHandle handle_ = -1;
#endif
};

// Why File::open refused a file it found, for a log line; null for any other error.
inline const char* refusedFileReason(DWORD error) noexcept {
  switch (error) {
    case ERROR_CANT_ACCESS_FILE:
      return "a link or reparse point";
    case ERROR_BAD_FILE_TYPE:
      return "not a regular file";
    case ERROR_TOO_MANY_LINKS:
      return "a file with more than one link";
    case kErrorReparsePoint:
      return "its folder is a link or reparse point";
    case kErrorOutsideFolder:
      return "it lies outside its folder";
    default:
      return nullptr;
  }
}

// GetFileAttributesExW: the size of a file (0 for a folder); false when it does not exist or
// cannot be queried.
bool queryFileSize(const Path& path, std::uint64_t& size) noexcept;

// MoveFileExW with MOVEFILE_REPLACE_EXISTING. Returns 0 or the Win32 error code.
DWORD moveFileReplacing(const Path& from, const Path& to) noexcept;

}  // namespace vorlund
