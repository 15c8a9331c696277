#include "chain/lookahead_limiter.h"

#include <algorithm>

#include "chain/gain.h"

namespace vorlund {
namespace {

// 1.5 ms of look-ahead, never fewer than 8 samples.
constexpr double kLookaheadSeconds = 0.0015;
constexpr int kShortestLookahead = 8;
constexpr double kReleaseMs = 60.0;

}  // namespace

void LookaheadLimiter::prepare(double sampleRate) {
  lookahead_ = std::max(kShortestLookahead, static_cast<int>(sampleRate * kLookaheadSeconds));
  releaseCoefficient_ = smoothingCoefficient(kReleaseMs, sampleRate);
  sizeExactly(delay_, static_cast<std::size_t>(lookahead_), 0.0f);
  sizeExactly(averageRing_, static_cast<std::size_t>(lookahead_), 1.0f);
  sizeExactly(dequeValues_, static_cast<std::size_t>(lookahead_) + 1, 1.0f);
  sizeExactly(dequeTimes_, static_cast<std::size_t>(lookahead_) + 1, std::uint32_t{0});
  reset();
}

void LookaheadLimiter::configure(bool enabled, float ceilingDb) noexcept {
  enabled_ = enabled;
  ceiling_ = dbToGain(ceilingDb);
}

void LookaheadLimiter::reset() noexcept {
  std::fill(delay_.begin(), delay_.end(), 0.0f);
  std::fill(averageRing_.begin(), averageRing_.end(), 1.0f);
  window_ = Window{};
  window_.runningSum = lookahead_;
}

double LookaheadLimiter::ringSum() const noexcept {
  double sum = 0.0;
  for (float value : averageRing_) sum += static_cast<double>(value);
  return sum;
}

}  // namespace vorlund
