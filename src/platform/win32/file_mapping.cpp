#include "platform/file_mapping.h"

#include <windows.h>

namespace vorlund {

DWORD FileMapping::create(const File& file, std::uint64_t fileSize) noexcept {
  close();
  // An invalid handle would ask for memory backed by the paging file instead.
  if (!file.isOpen()) return ERROR_INVALID_HANDLE;
  const HANDLE mapping =
      CreateFileMappingW(file.handle(), nullptr, PAGE_READWRITE, static_cast<DWORD>(fileSize >> 32),
                         static_cast<DWORD>(fileSize & 0xFFFFFFFFu), nullptr);
  if (mapping == nullptr) return GetLastError();
  mapping_ = mapping;
  return ERROR_SUCCESS;
}

DWORD FileMapping::mapView(std::size_t viewSize) noexcept {
  if (mapping_ == nullptr) return ERROR_INVALID_HANDLE;
  void* view = MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, viewSize);
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
}

}  // namespace vorlund
