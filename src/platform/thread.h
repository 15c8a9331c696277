// Layer: platform
// A thread running one procedure, joined with or without a time limit. The object must stay
// where it is while the thread runs (it is neither copied nor moved).
#pragma once

#include <cstdint>

#include "platform/error_codes.h"
#include "platform/event.h"

#if !VORLUND_WINDOWS
#include <pthread.h>
#endif

namespace vorlund {

class Thread {
 public:
  using Procedure = void (*)(void* argument);

  Thread() noexcept = default;
  // A thread still running is waited for: it may use memory its owner is about to free.
  ~Thread() { join(kWaitForever); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `procedure(argument)` with the default stack. Returns 0 or the Win32 error code.
  DWORD start(Procedure procedure, void* argument) noexcept;
  // Waits up to `timeoutMs` (0xFFFFFFFF: no limit) for the thread to end and releases it.
  // True when no thread is left; false when it may still be running (time-out or a failed
  // wait).
  bool join(std::uint32_t timeoutMs) noexcept;
  // Lets a thread that would not end run on unowned: it must use nothing this object's owner
  // frees. Nothing is left to join afterwards.
  void detach() noexcept;
  bool exists() const noexcept { return started_; }

 private:
#if VORLUND_WINDOWS
  static DWORD WINAPI entry(LPVOID self);
  HANDLE handle_ = nullptr;
#else
  static void* entry(void* self);
  pthread_t thread_{};
#endif
  Procedure procedure_ = nullptr;
  void* argument_ = nullptr;
  bool started_ = false;
};

}  // namespace vorlund
