// Layer: platform
#include "platform/file.h"

#include "platform/win32/security_descriptor.h"

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

// Room for a final path: the "\\?\" prefix and a path longer than the one asked for.
constexpr DWORD kFinalPathChars = 2 * Path::kCapacity;

// A missing folder reads as one, whichever call found it missing.
DWORD folderError(DWORD error) noexcept {
  return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
}

// Opens `folder` as itself, never what a link there points to, and without sharing the right
// to delete: while the handle is held, the folder can be neither renamed nor replaced.
DWORD openFolder(const Path& folder, HANDLE& handle) noexcept {
  handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return folderError(GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  DWORD error = GetFileInformationByHandle(handle, &info) ? ERROR_SUCCESS : GetLastError();
  // Wine opens what a link points to even so, but names the link in the path's attributes.
  const DWORD named = GetFileAttributesW(folder.c_str());
  if (error == ERROR_SUCCESS && named == INVALID_FILE_ATTRIBUTES)
    error = folderError(GetLastError());
  else if (error == ERROR_SUCCESS &&
           ((info.dwFileAttributes | named) & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    error = kErrorReparsePoint;
  else if (error == ERROR_SUCCESS && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    error = ERROR_DIRECTORY;
  if (error != ERROR_SUCCESS) {
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  return error;
}

// ERROR_SUCCESS when the file's final path lies directly in the folder's.
DWORD checkInsideFolder(HANDLE folder, HANDLE file) noexcept {
  wchar_t folderPath[kFinalPathChars];
  wchar_t filePath[kFinalPathChars];
  DWORD n = GetFinalPathNameByHandleW(folder, folderPath, kFinalPathChars, FILE_NAME_NORMALIZED);
  DWORD m = GetFinalPathNameByHandleW(file, filePath, kFinalPathChars, FILE_NAME_NORMALIZED);
  if (n == 0 || m == 0) return GetLastError();
  if (n >= kFinalPathChars || m >= kFinalPathChars) return ERROR_FILENAME_EXCED_RANGE;
  if (folderPath[n - 1] == L'\\') --n;  // a drive's root
  while (m > 0 && filePath[m - 1] != L'\\') --m;
  if (m == 0) return kErrorOutsideFolder;
  --m;
  return m == n && CompareStringOrdinal(folderPath, static_cast<int>(n), filePath,
                                        static_cast<int>(m), TRUE) == CSTR_EQUAL
             ? ERROR_SUCCESS
             : kErrorOutsideFolder;
}

}  // namespace

DWORD File::open(const Path& path, FileAccess access, const char16_t* createdAccess) noexcept {
  close();
  if (!path.valid()) return ERROR_FILENAME_EXCED_RANGE;
  // Only the access list is taken: the creator stays the owner, as nobody but an
  // administrator may name another.
  const SecurityDescriptor parsed(createdAccess);
  if (parsed.error != ERROR_SUCCESS) return parsed.error;
  SECURITY_DESCRIPTOR rules{};
  SECURITY_ATTRIBUTES created{sizeof created, &rules, FALSE};
  if (parsed.get() != nullptr) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (!GetSecurityDescriptorDacl(parsed.get(), &present, &list, &defaulted) ||
        !InitializeSecurityDescriptor(&rules, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&rules, TRUE, list, FALSE) ||
        !SetSecurityDescriptorControl(&rules, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
      return GetLastError();
  }
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
  HANDLE folder = INVALID_HANDLE_VALUE;
  if (const DWORD error = openFolder(path.parent(), folder); error != ERROR_SUCCESS) return error;
  // The link or junction itself is opened, never what it points to, and then refused.
  const HANDLE h = CreateFileW(path.c_str(), desiredAccess, kShareAll,
                               parsed.get() != nullptr ? &created : nullptr, disposition,
                               attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : checkRegularFile(h);
  if (error == ERROR_SUCCESS) error = checkInsideFolder(folder, h);
  CloseHandle(folder);
  if (h == INVALID_HANDLE_VALUE) return error;
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
