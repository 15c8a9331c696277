// Layer: platform
// A read-write view of the start of a file, shared with every process that maps the same
// file. Mapping grows a shorter file to the given size, as CreateFileMappingW does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/error_codes.h"
#include "platform/file.h"

namespace vorlund {

class FileMapping {
 public:
  FileMapping() noexcept = default;
  ~FileMapping() { close(); }
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;

  // Creates the mapping object for `file` (open for reading and writing), growing it to
  // `fileSize` bytes if shorter. Returns 0 or the Win32 error code.
  DWORD create(const File& file, std::uint64_t fileSize) noexcept;
  // The same for a file open for reading only, at least `fileSize` bytes long (PAGE_READONLY);
  // its view may only be read.
  DWORD createReadOnly(const File& file, std::uint64_t fileSize) noexcept;
  // Maps the first `viewSize` bytes, for reading and writing unless the mapping was made
  // read-only. Returns 0 or the error code.
  DWORD mapView(std::size_t viewSize) noexcept;
  // Unmaps the view (if any), then closes the mapping object.
  void close() noexcept;

  void* view() const noexcept { return view_; }

 private:
  void* view_ = nullptr;
  std::size_t viewSize_ = 0;
  bool readOnly_ = false;
#if VORLUND_WINDOWS
  HANDLE mapping_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace vorlund
