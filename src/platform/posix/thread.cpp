// Layer: platform
#include "platform/thread.h"

#include <time.h>

#include "platform/error_codes.h"
#include "platform/event.h"
#include "platform/posix/errno_map.h"

namespace vorlund {

void* Thread::entry(void* self) {
  Thread* thread = static_cast<Thread*>(self);
  thread->procedure_(thread->argument_);
  return nullptr;
}

DWORD Thread::start(Procedure procedure, void* argument) noexcept {
  if (started_) return ERROR_INVALID_PARAMETER;
  procedure_ = procedure;
  argument_ = argument;
  const int error = pthread_create(&thread_, nullptr, &Thread::entry, this);
  if (error != 0) return win32ErrorFromErrno(error);
  started_ = true;
  return ERROR_SUCCESS;
}

bool Thread::join(std::uint32_t timeoutMs) noexcept {
  if (!started_) return true;
  int error;
  if (timeoutMs == kWaitForever) {
    error = pthread_join(thread_, nullptr);
  } else {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    error = pthread_timedjoin_np(thread_, nullptr, &deadline);
  }
  if (error != 0) return false;
  started_ = false;
  return true;
}

void Thread::detach() noexcept {
  if (started_) pthread_detach(thread_);
  started_ = false;
}

}  // namespace vorlund
