// Layer: platform
#include "platform/file_mapping.h"

#include <windows.h>

namespace vorlund {

namespace {

// CreateFileMappingW over `file` with `protection`, the object in `mapping`.
DWORD makeMapping(const File& file, std::uint64_t fileSize, DWORD protection,
                  HANDLE& mapping) noexcept {
  // An invalid handle would ask for memory backed by the paging file instead.
  if (!file.isOpen()) return ERROR_INVALID_HANDLE;
  mapping =
      CreateFileMappingW(file.handle(), nullptr, protection, static_cast<DWORD>(fileSize >> 32),
                         static_cast<DWORD>(fileSize & 0xFFFFFFFFu), nullptr);
  return mapping != nullptr ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

DWORD FileMapping::create(const File& file, std::uint64_t fileSize) noexcept {
  close();
  return makeMapping(file, fileSize, PAGE_READWRITE, mapping_);
}

DWORD FileMapping::createReadOnly(const File& file, std::uint64_t fileSize) noexcept {
  close();
  const DWORD error = makeMapping(file, fileSize, PAGE_READONLY, mapping_);
  readOnly_ = error == ERROR_SUCCESS;
  return error;
}

DWORD FileMapping::mapView(std::size_t viewSize) noexcept {
  if (mapping_ == nullptr) return ERROR_INVALID_HANDLE;
  const DWORD access = readOnly_ ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE;
  void* view = MapViewOfFile(mapping_, access, 0, 0, viewSize);
  if (view == nullptr) return GetLastError();
  view_ = view;
  viewSize_ = viewSize;
  return ERROR_SUCCESS;
}

void FileMapping::close() noexcept {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  view_ = nullptr;
  viewSize_ = 0;
  if (mapping_ != nullptr) CloseHandle(mapping_);
  mapping_ = nullptr;
  readOnly_ = false;
}

}  // namespace vorlund
