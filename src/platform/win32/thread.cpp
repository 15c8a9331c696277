// Layer: platform
#include "platform/thread.h"

#include <windows.h>

namespace vorlund {

DWORD WINAPI Thread::entry(LPVOID self) {
  Thread* thread = static_cast<Thread*>(self);
  thread->procedure_(thread->argument_);
  return 0;
}

DWORD Thread::start(Procedure procedure, void* argument) noexcept {
  if (started_) return ERROR_INVALID_PARAMETER;
  procedure_ = procedure;
  argument_ = argument;
  const HANDLE h = CreateThread(nullptr, 0, &Thread::entry, this, 0, nullptr);
  if (h == nullptr) return GetLastError();
  handle_ = h;
  started_ = true;
  return ERROR_SUCCESS;
}

bool Thread::join(std::uint32_t timeoutMs) noexcept {
  if (!started_) return true;
  if (WaitForSingleObject(handle_, timeoutMs) != WAIT_OBJECT_0) return false;
  CloseHandle(handle_);
  handle_ = nullptr;
  started_ = false;
  return true;
}

void Thread::detach() noexcept {
  if (started_) CloseHandle(handle_);
  handle_ = nullptr;
  started_ = false;
}

}  // namespace vorlund
