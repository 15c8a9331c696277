// Layer: platform
// A file that takes the place of another only once it is complete and on disk: written under
// an unpredictable name in the target's own folder, created exclusively and never through a
// link, flushed, then renamed over the target, with the rename itself made durable. A reader
// of the target finds the old file or the new one, never a part of either, even after a
// power cut; and someone who may write that folder cannot make the writer write elsewhere.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>

#include "platform/com/com_types.h"
#include "platform/error_codes.h"
#include "platform/native_handle.h"

namespace vorlund {

class ReplacingFile {
 public:
  ReplacingFile() noexcept = default;
  // An uncommitted temporary file is removed.
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the temporary file beside `target` (O_CREAT | O_EXCL | O_NOFOLLOW; CREATE_NEW),
  // readable and writable. Returns 0 or a Win32 error code.
  DWORD create(const std::filesystem::path& target);
  // The open temporary file, for a writer that takes a descriptor or handle.
  NativeHandle handle() const noexcept { return handle_; }
  // Writes all of `size` bytes at the current position. Returns 0 or a Win32 error code.
  DWORD write(const void* data, std::size_t size) noexcept;
  // Flushes the file, closes it and renames it over the target, then flushes the folder
  // (fsync; FlushFileBuffers and MOVEFILE_WRITE_THROUGH). On failure the target is as it was
  // and the temporary file is gone. Returns 0 or a Win32 error code.
  DWORD commit();

 private:
  void discard() noexcept;

  std::filesystem::path target_;
  std::filesystem::path temporary_;
#if VORLUND_WINDOWS
  NativeHandle handle_ = INVALID_HANDLE_VALUE;
#else
  NativeHandle handle_ = -1;
#endif
};

// `content` in place of `target`, through a ReplacingFile. Returns 0 or a Win32 error code.
DWORD replaceFileContent(const std::filesystem::path& target, std::string_view content);

// Creates `path` for reading and writing, exclusively (O_CREAT | O_EXCL | O_NOFOLLOW;
// CREATE_NEW): anything already there, a link above all, makes it fail with ERROR_FILE_EXISTS
// and stays as it was. Returns 0 or a Win32 error code.
DWORD createNewFile(const std::filesystem::path& path, NativeHandle& handle);

// The temporary name ReplacingFile uses for `target`: in its folder, hidden, with 64 random
// bits, so that nobody can place anything there in advance.
std::filesystem::path temporaryNameBeside(const std::filesystem::path& target);

}  // namespace vorlund
