// Layer: platform
#include "platform/event.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"

namespace vorlund {

// An eventfd that is written once and never read stays readable for good: a manual-reset
// event that is never reset.
DWORD Event::create() noexcept {
  close();
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return win32ErrorFromErrno(errno);
  handle_ = fd;
  return ERROR_SUCCESS;
}

void Event::close() noexcept {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
}

bool Event::isOpen() const noexcept {
  return handle_ >= 0;
}

void Event::set() noexcept {
  const std::uint64_t one = 1;
  if (handle_ >= 0) (void)!::write(handle_, &one, sizeof one);
}

WaitResult Event::wait(std::uint32_t timeoutMs) const noexcept {
  if (handle_ < 0) return WaitResult::failed;
  pollfd fd{handle_, POLLIN, 0};
  const int timeout = timeoutMs == kWaitForever ? -1
                      : timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF
                                                : static_cast<int>(timeoutMs);
  int n;
  do {
    n = poll(&fd, 1, timeout);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return WaitResult::failed;
  return n == 0 ? WaitResult::timedOut : WaitResult::signalled;
}

}  // namespace vorlund
