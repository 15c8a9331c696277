// Layer: signal
// Sizing and measuring the buffers that stages own. A buffer is sized to exactly what its rate
// needs, also when an earlier, larger preparation left capacity behind, and the memory report
// counts what was reserved, not what is in use.
#pragma once

#include <cstddef>
#include <vector>

namespace vorlund {

// Configuration thread; allocates. `count` entries of `value`, and no spare capacity.
template <typename T>
void sizeExactly(std::vector<T>& buffer, std::size_t count, T value) {
  buffer = std::vector<T>(count, value);
}

template <typename T>
std::size_t reservedBytes(const std::vector<T>& buffer) noexcept {
  return buffer.capacity() * sizeof(T);
}

}  // namespace vorlund
