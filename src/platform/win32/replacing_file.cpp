// Layer: platform
#include "platform/replacing_file.h"

#include <windows.h>

namespace vorlund {

DWORD createNewFile(const std::filesystem::path& path, NativeHandle& handle) {
  // CREATE_NEW fails on any name that exists, a link or reparse point included, so nothing is
  // ever opened through one.
  handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error;
}

DWORD ReplacingFile::write(const void* data, std::size_t size) noexcept {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle_, bytes, piece, &written, nullptr)) return GetLastError();
    bytes += written;
    size -= written;
  }
  return ERROR_SUCCESS;
}

DWORD ReplacingFile::commit() {
  if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  DWORD error = FlushFileBuffers(handle_) ? ERROR_SUCCESS : GetLastError();
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  // Write-through: the call returns once the rename is on disk.
  if (error == ERROR_SUCCESS && !MoveFileExW(temporary_.c_str(), target_.c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error != ERROR_SUCCESS) {
    discard();
    return error;
  }
  temporary_.clear();
  return ERROR_SUCCESS;
}

void ReplacingFile::discard() noexcept {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
  temporary_.clear();
}

}  // namespace vorlund
