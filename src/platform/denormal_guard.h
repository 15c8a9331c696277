// Layer: base
// Switches on flush-to-zero and denormals-are-zero for a scope and puts the caller's
// floating-point control state back on exit. Decaying filter and envelope states then never
// fall into slow denormal arithmetic.
#pragma once

#include <xmmintrin.h>

namespace vorlund {

class DenormalGuard {
 public:
  static constexpr unsigned kFlushToZero = 0x8000;
  static constexpr unsigned kDenormalsAreZero = 0x0040;

  DenormalGuard() noexcept : saved_(_mm_getcsr()) {
    _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero);
  }
  ~DenormalGuard() { _mm_setcsr(saved_); }
  DenormalGuard(const DenormalGuard&) = delete;
  DenormalGuard& operator=(const DenormalGuard&) = delete;

 private:
  unsigned saved_;
};

}  // namespace vorlund
