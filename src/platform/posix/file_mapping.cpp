// Layer: platform
#include "platform/file_mapping.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/errno_map.h"

namespace vorlund {

DWORD FileMapping::create(const File& file, std::uint64_t fileSize) noexcept {
  close();
  if (!file.isOpen()) return ERROR_INVALID_HANDLE;
  struct stat info {};
  if (fstat(file.handle(), &info) != 0) return win32ErrorFromErrno(errno);
  // Only ever grown, never cut, as CreateFileMappingW treats a larger maximum size. The
  // blocks are allocated for real: a sparse file on a full disk would raise SIGBUS at the
  // first write through the view instead of failing here.
  if (static_cast<std::uint64_t>(info.st_size) < fileSize) {
    const int error = posix_fallocate(file.handle(), 0, static_cast<off_t>(fileSize));
    if (error != 0) return win32ErrorFromErrno(error);
  }
  // The mapping outlives neither the file nor this object; a duplicate keeps the view's
  // descriptor independent of the file object's.
  const int fd = dup(file.handle());
  if (fd < 0) return win32ErrorFromErrno(errno);
  fd_ = fd;
  return ERROR_SUCCESS;
}

DWORD FileMapping::createReadOnly(const File& file, std::uint64_t fileSize) noexcept {
  close();
  if (!file.isOpen()) return ERROR_INVALID_HANDLE;
  struct stat info {};
  if (fstat(file.handle(), &info) != 0) return win32ErrorFromErrno(errno);
  // CreateFileMappingW cannot grow a file opened for reading.
  if (static_cast<std::uint64_t>(info.st_size) < fileSize) return ERROR_ACCESS_DENIED;
  const int fd = dup(file.handle());
  if (fd < 0) return win32ErrorFromErrno(errno);
  fd_ = fd;
  readOnly_ = true;
  return ERROR_SUCCESS;
}

DWORD FileMapping::mapView(std::size_t viewSize) noexcept {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  const int protection = readOnly_ ? PROT_READ : PROT_READ | PROT_WRITE;
  void* view = mmap(nullptr, viewSize, protection, MAP_SHARED, fd_, 0);
  if (view == MAP_FAILED) return win32ErrorFromErrno(errno);
  view_ = view;
  viewSize_ = viewSize;
  return ERROR_SUCCESS;
}

void FileMapping::close() noexcept {
  if (view_ != nullptr) munmap(view_, viewSize_);
  view_ = nullptr;
  viewSize_ = 0;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  readOnly_ = false;
}

}  // namespace vorlund
