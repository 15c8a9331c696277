// Layer: platform
// High-resolution monotonic counter: QueryPerformanceCounter on Windows, CLOCK_MONOTONIC in
// nanoseconds elsewhere. Both are safe on the real-time thread.
#pragma once

#include <cstdint>

namespace vorlund {

std::int64_t performanceCounter() noexcept;
std::int64_t performanceFrequency() noexcept;

}  // namespace vorlund
