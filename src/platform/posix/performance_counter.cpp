// Layer: platform
#include "platform/performance_counter.h"

#include <time.h>

namespace vorlund {

std::int64_t performanceCounter() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t performanceFrequency() noexcept {
  return 1000000000;
}

}  // namespace vorlund
