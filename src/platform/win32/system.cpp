// Layer: platform
#include "platform/system.h"

#include <windows.h>

namespace vorlund {

LocalTime localTime() noexcept {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::uint32_t currentProcessId() noexcept {
  return GetCurrentProcessId();
}

std::uint64_t tickCount64() noexcept {
  return GetTickCount64();
}

void sleepMilliseconds(std::uint32_t milliseconds) noexcept {
  Sleep(milliseconds);
}

// A running process has always issued some I/O (loading its own image, if nothing else);
// all zeros means the counters are not kept (Wine does not keep them).
bool processIoOperations(std::uint64_t& count) noexcept {
  IO_COUNTERS counters{};
  if (!GetProcessIoCounters(GetCurrentProcess(), &counters)) return false;
  count = counters.ReadOperationCount + counters.WriteOperationCount + counters.OtherOperationCount;
  return count != 0;
}

bool runningUnderWine() noexcept {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace vorlund
