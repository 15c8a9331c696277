// Bytes a stage's owned buffers hold, for the memory report: what was reserved, not what is
// in use, so capacity left over from an earlier, larger preparation shows up.
#pragma once

#include <cstddef>
#include <vector>

namespace vorlund {

template <typename T>
std::size_t reservedBytes(const std::vector<T>& buffer) noexcept {
  return buffer.capacity() * sizeof(T);
}

}  // namespace vorlund
