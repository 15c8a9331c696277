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
  delay_.assign(lookahead_, 0.0f);
  averageRing_.assign(lookahead_, 1.0f);
  dequeValues_.assign(lookahead_ + 1, 1.0f);
  dequeTimes_.assign(lookahead_ + 1, 0u);
  reset();
}

void LookaheadLimiter::configure(bool enabled, float ceilingDb) noexcept {
  enabled_ = enabled;
  ceiling_ = dbToGain(ceilingDb);
}

void LookaheadLimiter::reset() noexcept {
  std::fill(delay_.begin(), delay_.end(), 0.0f);
  std::fill(averageRing_.begin(), averageRing_.end(), 1.0f);
  writePos_ = 0;
  dequeFront_ = 0;
  dequeBack_ = 0;
  recomputeCounter_ = 0;
  clock_ = 0;
  gain_ = 1.0f;
  blockMinGain_ = 1.0f;
  runningSum_ = lookahead_;
}

void LookaheadLimiter::recomputeSum() noexcept {
  recomputeCounter_ = 0;
  double sum = 0.0;
  for (float value : averageRing_) sum += value;
  runningSum_ = sum;
}

}  // namespace vorlund
