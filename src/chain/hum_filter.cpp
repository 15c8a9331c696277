// Layer: signal
#include "chain/hum_filter.h"

#include <algorithm>

namespace vorlund {

void HumFilter::prepare(double sampleRate) noexcept {
  sampleRate_ = sampleRate;
  design();
}

void HumFilter::configure(const Settings& settings) noexcept {
  const auto [enabled, baseHz, harmonics] = settings;
  const bool baseChanged = !(baseHz == baseHz_);
  if (enabled == enabled_ && !baseChanged && harmonics == harmonics_) return;
  enabled_ = enabled;
  baseHz_ = baseHz;
  harmonics_ = harmonics;
  design();
}

void HumFilter::design() noexcept {
  // Harmonics above this share of the rate get no notch: they would crowd Nyquist.
  constexpr double kHighestShare = 0.45;
  // Q = f / 3 gives a bandwidth of about 3 Hz; above 60 the notch rings too long.
  constexpr double kBandwidthHz = 3.0;
  constexpr double kMaxQ = 60.0;
  sectionCount_ = 0;
  for (int h = 1; h <= harmonics_ && h <= kMaxSections; ++h) {
    const double f = static_cast<double>(static_cast<float>(h) * baseHz_);
    if (f > kHighestShare * sampleRate_) break;
    const double q = std::max(0.05, std::min(f / kBandwidthHz, kMaxQ));
    designBiquad(sections_[h - 1], FilterType::Notch, sampleRate_, f, 0.0, q);
    sectionCount_ += 1;
  }
}

}  // namespace vorlund
