// Layer: platform
// Small services of the operating system: local time, process id, tick count, sleeping, the
// process's I/O operation count, and whether Windows is Wine.
#pragma once

#include <cstdint>

namespace vorlund {

struct LocalTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

// GetLocalTime.
LocalTime localTime() noexcept;
// GetCurrentProcessId.
std::uint32_t currentProcessId() noexcept;
// GetTickCount64: milliseconds since the system started. Safe on the real-time thread.
std::uint64_t tickCount64() noexcept;
// Sleep.
void sleepMilliseconds(std::uint32_t milliseconds) noexcept;
// Read, write and other I/O operations this process has issued so far (all threads); the
// Linux figure counts read and write system calls. False when the system cannot tell.
bool processIoOperations(std::uint64_t& count) noexcept;
// True when the Windows build runs under Wine, whose emulation differs in known places
// (appends from several handles, changes between folder notifications).
bool runningUnderWine() noexcept;

}  // namespace vorlund
