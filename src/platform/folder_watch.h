// Layer: platform
// Change notification for one folder (not its subtree): a file created, deleted or renamed
// in it, or a file's content written. Waits together with a stop event.
#pragma once

#include "platform/error_codes.h"
#include "platform/event.h"
#include "platform/path.h"

namespace vorlund {

class FolderWatch {
 public:
  enum class Wake { changed, stopped, failed };

  FolderWatch() noexcept = default;
  ~FolderWatch() { close(); }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // FindFirstChangeNotificationW with FILE_NOTIFY_CHANGE_FILE_NAME |
  // FILE_NOTIFY_CHANGE_LAST_WRITE. Returns 0 or the Win32 error code.
  DWORD start(const Path& folder) noexcept;
  // Waits without time limit for a change or for `stop`. Changes made after the wake-up are
  // kept for the next wait.
  Wake wait(const Event& stop) noexcept;
  // Changes to a file named `name` (a string that outlives the watch) wake no wait: for
  // files the watcher's own process writes. Up to kMaxIgnored names. On Windows, whose change
  // notification names no file, every change still wakes.
  void ignore(const char* name) noexcept;
  static constexpr int kMaxIgnored = 2;
  // FindNextChangeNotification: arms the next wait. Returns 0 or the Win32 error code.
  DWORD rearm() noexcept;
  void close() noexcept;
  bool isOpen() const noexcept;

 private:
#if VORLUND_WINDOWS
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  int fd_ = -1;
  bool isIgnored(const char* name, std::uint32_t length) const noexcept;
  bool lost_ = false;  // the watched folder was removed
  const char* ignored_[kMaxIgnored] = {};
#endif
};

}  // namespace vorlund
