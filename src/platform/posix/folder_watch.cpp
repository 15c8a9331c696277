// Layer: platform
#include "platform/folder_watch.h"

#include <errno.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"

namespace vorlund {
namespace {

// FILE_NOTIFY_CHANGE_FILE_NAME (created, deleted, renamed) and FILE_NOTIFY_CHANGE_LAST_WRITE
// (content written). inotify watches the folder itself, never its subtree.
constexpr std::uint32_t kWatchedEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE;

}  // namespace

DWORD FolderWatch::start(const Path& folder) noexcept {
  close();
  if (!folder.valid()) return ERROR_FILENAME_EXCED_RANGE;
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return win32ErrorFromErrno(errno);
  if (inotify_add_watch(fd, folder.c_str(), kWatchedEvents | IN_ONLYDIR) < 0) {
    const DWORD error = win32ErrorFromErrno(errno, folder.c_str());
    ::close(fd);
    return error;
  }
  fd_ = fd;
  return ERROR_SUCCESS;
}

// The events that woke the wait are consumed here, at once; anything that happens later
// stays queued and satisfies the next wait, as a re-armed notification would.
FolderWatch::Wake FolderWatch::wait(const Event& stop) noexcept {
  if (fd_ < 0 || !stop.isOpen()) return Wake::failed;
  for (;;) {
    pollfd fds[2] = {{stop.handle(), POLLIN, 0}, {fd_, POLLIN, 0}};
    const int n = poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Wake::failed;
    }
    if (fds[0].revents != 0) return Wake::stopped;
    if ((fds[1].revents & POLLIN) == 0) return Wake::failed;

    bool fileChanged = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        inotify_event event;
        std::memcpy(&event, buffer + at, sizeof event);
        // Sub-folders are not files: FILE_NOTIFY_CHANGE_DIR_NAME is not asked for.
        if ((event.mask & kWatchedEvents) != 0 && (event.mask & IN_ISDIR) == 0 &&
            !isIgnored(buffer + at + sizeof(inotify_event), event.len))
          fileChanged = true;
        // The folder itself went away: report it as a change, and let the re-arm fail so that
        // watching starts anew, as FindNextChangeNotification does.
        if ((event.mask & IN_IGNORED) != 0) {
          lost_ = true;
          fileChanged = true;
        }
        if ((event.mask & IN_Q_OVERFLOW) != 0) fileChanged = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      }
    }
    if (fileChanged) return Wake::changed;
  }
}

void FolderWatch::ignore(const char* name) noexcept {
  for (const char*& slot : ignored_) {
    if (slot == nullptr) {
      slot = name;
      return;
    }
  }
}

bool FolderWatch::isIgnored(const char* name, std::uint32_t length) const noexcept {
  if (length == 0) return false;
  for (const char* ignored : ignored_) {
    // inotify pads the name with NULs to `length`.
    if (ignored != nullptr && std::strncmp(name, ignored, length) == 0) return true;
  }
  return false;
}

DWORD FolderWatch::rearm() noexcept {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  return lost_ ? ERROR_PATH_NOT_FOUND : ERROR_SUCCESS;
}

void FolderWatch::close() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  lost_ = false;
}

bool FolderWatch::isOpen() const noexcept {
  return fd_ >= 0;
}

}  // namespace vorlund
