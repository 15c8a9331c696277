// What every fuzz target shares: a reader that turns the fuzzer's bytes into values (zeros
// once the bytes run out, so every input decodes to something) and the check that reports a
// broken property as a crash, which libFuzzer and the corpus replay both catch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vorlund::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  bool exhausted() const noexcept { return position_ >= size_; }

  // Copies `count` bytes into `destination`, zero-filling past the end of the input.
  void read(void* destination, std::size_t count) noexcept {
    const std::size_t available = exhausted() ? 0 : size_ - position_;
    const std::size_t taken = count < available ? count : available;
    if (taken != 0) std::memcpy(destination, data_ + position_, taken);
    // An empty destination may be a null pointer, which memset must not be given.
    if (count > taken)
      std::memset(static_cast<std::uint8_t*>(destination) + taken, 0, count - taken);
    position_ += taken;
  }

  template <typename T>
  T value() noexcept {
    T v;
    read(&v, sizeof v);
    return v;
  }

  std::uint8_t byte() noexcept { return value<std::uint8_t>(); }

  // A value in [low, high], both inclusive.
  std::uint32_t inRange(std::uint32_t low, std::uint32_t high) noexcept {
    const std::uint64_t span = static_cast<std::uint64_t>(high) - low + 1;
    return static_cast<std::uint32_t>(low + value<std::uint32_t>() % span);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// A property the target guarantees did not hold: report it and crash.
inline void require(bool holds, const char* property) noexcept {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", property);
  std::abort();
}

}  // namespace vorlund::fuzz
