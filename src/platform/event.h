// Layer: platform
// A manual-reset event: unnamed, created non-signalled, and signalled for good once set.
#pragma once

#include <cstdint>

#include "platform/error_codes.h"
#include "platform/native_handle.h"

namespace vorlund {

enum class WaitResult { signalled, timedOut, failed };

// The time-out that never ends (INFINITE).
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

class Event {
 public:
  Event() noexcept = default;
  ~Event() { close(); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Returns 0 or the Win32 error code.
  DWORD create() noexcept;
  void close() noexcept;
  bool isOpen() const noexcept;

  void set() noexcept;
  WaitResult wait(std::uint32_t timeoutMs) const noexcept;

  NativeHandle handle() const noexcept { return handle_; }

 private:
#if VORLUND_WINDOWS
  NativeHandle handle_ = nullptr;
#else
  NativeHandle handle_ = -1;
#endif
};

}  // namespace vorlund
