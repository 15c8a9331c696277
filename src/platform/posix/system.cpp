// Layer: platform
#include "platform/system.h"

#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace vorlund {

LocalTime localTime() noexcept {
  const time_t now = time(nullptr);
  tm parts{};
  localtime_r(&now, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::uint32_t currentProcessId() noexcept {
  return static_cast<std::uint32_t>(getpid());
}

// CLOCK_BOOTTIME counts suspended time too, as GetTickCount64 does.
std::uint64_t tickCount64() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

void sleepMilliseconds(std::uint32_t milliseconds) noexcept {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// syscr and syscw of /proc/self/io: the read and write system calls of every thread.
bool processIoOperations(std::uint64_t& count) noexcept {
  const int fd = open("/proc/self/io", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[512];
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return false;
  text[n] = 0;
  unsigned long long reads = 0, writes = 0;
  const char* r = std::strstr(text, "syscr:");
  const char* w = std::strstr(text, "syscw:");
  if (r == nullptr || w == nullptr || std::sscanf(r, "syscr: %llu", &reads) != 1 ||
      std::sscanf(w, "syscw: %llu", &writes) != 1)
    return false;
  count = reads + writes;
  return true;
}

bool runningUnderWine() noexcept {
  return false;
}

}  // namespace vorlund
