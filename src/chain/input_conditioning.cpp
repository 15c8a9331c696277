// Designs for the DC blocker and the high-pass; the hum notches live in hum_filter.cpp.
#include <cmath>
#include <numbers>

#include "chain/dc_blocker.h"
#include "chain/fast_math.h"
#include "chain/high_pass_filter.h"

namespace vorlund {

void DcBlocker::prepare(double sampleRate) noexcept {
  pole_ = sampleRate > 0.0
              ? static_cast<float>(designExp(-2.0 * std::numbers::pi * kCornerHz / sampleRate))
              : 0.0f;
}

void HighPassFilter::configure(bool enabled, float cornerHz, int order,
                               double sampleRate) noexcept {
  // Q of the fourth-order Butterworth pair and of the single second-order section.
  constexpr double kQ4First = 0.5411961;
  constexpr double kQ4Second = 1.306563;
  constexpr double kQ2 = 0.70710678;
  count_ = 0;
  if (!enabled) return;
  if (order >= 4) {
    designBiquad(sections_[0], FilterType::HighPass, sampleRate, cornerHz, 0.0, kQ4First);
    designBiquad(sections_[1], FilterType::HighPass, sampleRate, cornerHz, 0.0, kQ4Second);
    count_ = 2;
  } else {
    designBiquad(sections_[0], FilterType::HighPass, sampleRate, cornerHz, 0.0, kQ2);
    count_ = 1;
  }
}

}  // namespace vorlund
