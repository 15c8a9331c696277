// Layer: signal
#include "chain/high_pass_filter.h"

#include "chain/numbers.h"

namespace vorlund {

void HighPassFilter::configure(const Settings& settings) noexcept {
  const auto [enabled, cornerHz, order] = settings;
  // The fourth-order Butterworth poles lie at π/8 and 3π/8 from the negative real axis; a
  // section whose poles lie at angle θ has Q = 1 / (2 cos θ): 1/(2 cos 22.5°) = 0.5411961 and
  // 1/(2 cos 67.5°) = 1.306563. The second-order filter is one section at 45°, Q = 1/√2.
  constexpr double kQ4First = 0.5411961;
  constexpr double kQ4Second = 1.306563;
  count_ = 0;
  if (!enabled) return;
  if (order >= 4) {
    designBiquad(sections_[0], FilterType::HighPass, sampleRate_, cornerHz, 0.0, kQ4First);
    designBiquad(sections_[1], FilterType::HighPass, sampleRate_, cornerHz, 0.0, kQ4Second);
    count_ = 2;
  } else {
    designBiquad(sections_[0], FilterType::HighPass, sampleRate_, cornerHz, 0.0, kButterworthQ);
    count_ = 1;
  }
}

}  // namespace vorlund
