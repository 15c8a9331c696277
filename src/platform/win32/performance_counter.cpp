// Layer: platform
#include "platform/performance_counter.h"

#include <windows.h>

namespace vorlund {

std::int64_t performanceCounter() noexcept {
  LARGE_INTEGER value{};
  QueryPerformanceCounter(&value);
  return value.QuadPart;
}

std::int64_t performanceFrequency() noexcept {
  LARGE_INTEGER value{};
  QueryPerformanceFrequency(&value);
  return value.QuadPart;
}

}  // namespace vorlund
