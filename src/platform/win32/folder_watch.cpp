// Layer: platform
#include "platform/folder_watch.h"

#include <windows.h>

namespace vorlund {

DWORD FolderWatch::start(const Path& folder) noexcept {
  close();
  if (!folder.valid()) return ERROR_FILENAME_EXCED_RANGE;
  const HANDLE h = FindFirstChangeNotificationW(
      folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  handle_ = h;
  return ERROR_SUCCESS;
}

FolderWatch::Wake FolderWatch::wait(const Event& stop) noexcept {
  if (handle_ == INVALID_HANDLE_VALUE || !stop.isOpen()) return Wake::failed;
  const HANDLE handles[2] = {stop.handle(), handle_};
  switch (WaitForMultipleObjects(2, handles, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
      return Wake::stopped;
    case WAIT_OBJECT_0 + 1:
      return Wake::changed;
    default:
      return Wake::failed;
  }
}

void FolderWatch::ignore(const char*) noexcept {}

DWORD FolderWatch::rearm() noexcept {
  if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  return FindNextChangeNotification(handle_) ? ERROR_SUCCESS : GetLastError();
}

void FolderWatch::close() noexcept {
  if (handle_ != INVALID_HANDLE_VALUE) FindCloseChangeNotification(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

bool FolderWatch::isOpen() const noexcept {
  return handle_ != INVALID_HANDLE_VALUE;
}

}  // namespace vorlund
