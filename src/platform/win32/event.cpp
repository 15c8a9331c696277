// Layer: platform
#include "platform/event.h"

#include <windows.h>

namespace vorlund {

DWORD Event::create() noexcept {
  close();
  const HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (h == nullptr) return GetLastError();
  handle_ = h;
  return ERROR_SUCCESS;
}

void Event::close() noexcept {
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
}

bool Event::isOpen() const noexcept {
  return handle_ != nullptr;
}

void Event::set() noexcept {
  if (handle_ != nullptr) SetEvent(handle_);
}

WaitResult Event::wait(std::uint32_t timeoutMs) const noexcept {
  if (handle_ == nullptr) return WaitResult::failed;
  switch (WaitForSingleObject(handle_, timeoutMs)) {
    case WAIT_OBJECT_0:
      return WaitResult::signalled;
    case WAIT_TIMEOUT:
      return WaitResult::timedOut;
    default:
      return WaitResult::failed;
  }
}

}  // namespace vorlund
