// Layer: signal
#include "chain/lookahead_limiter.h"

#include <algorithm>
#include <cmath>

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

void LookaheadLimiter::configure(const Settings& settings) noexcept {
  const auto [enabled, ceilingDb] = settings;
  enabled_ = enabled;
  ceiling_ = dbToGain(ceilingDb);
}

void LookaheadLimiter::reset() noexcept {
  std::fill(delay_.begin(), delay_.end(), 0.0f);
  std::fill(averageRing_.begin(), averageRing_.end(), 1.0f);
  window_ = Window{};
  window_.runningSum = lookahead_;
}

bool LookaheadLimiter::staysAtRest(const float* samples, int count) const noexcept {
  const float gain = window_.gain;
  if (!(gain <= 1.0f) || follow(gain, 1.0f, releaseCoefficient_) != gain ||
      static_cast<float>(window_.runningSum / lookahead_) != 1.0f)
    return false;
  // Counted rather than searched with an early exit, so the loops run on whole vectors.
  int belowUnity = 0;
  for (float value : averageRing_) belowUnity += value != 1.0f;
  if (belowUnity != 0) return false;
  if (!enabled_) return true;
  int overCeiling = 0;
  for (int i = 0; i < count; ++i) overCeiling += std::fabs(samples[i]) > ceiling_;
  return overCeiling == 0;
}

void LookaheadLimiter::delayAtRest(float* samples, int count) noexcept {
  Window& w = window_;
  const int length = lookahead_;
  const float gain = w.gain;
  int writePos = w.writePos;
  // Each step writes its sample at writePos and reads the next slot. Steps that stay short of
  // the ring's end go as one straight pass the compiler can vectorise; the step that writes the
  // last slot reads slot 0.
  for (int i = 0; i < count;) {
    const int run = std::min(count - i, length - 1 - writePos);
    float* __restrict slots = delay_.data() + writePos;
    float* __restrict x = samples + i;
    for (int j = 0; j < run; ++j) {
      const float delayed = slots[j + 1];
      slots[j] = x[j];
      x[j] = delayed;
    }
    i += run;
    writePos += run;
    if (i < count) {
      delay_[writePos] = samples[i];
      writePos = 0;
      samples[i] = delay_[0];
      ++i;
    }
  }
  if (gain != 1.0f) {
    for (int i = 0; i < count; ++i) samples[i] *= gain;
    if (gain < w.blockMinGain) w.blockMinGain = gain;
  }
  // A sample written while the limiter was off may lie above a ceiling set since.
  if (enabled_) {
    for (int i = 0; i < count; ++i) samples[i] = std::clamp(samples[i], -ceiling_, ceiling_);
  }
  w.writePos = writePos;
  // Each step pushed a 1 that emptied the queue, so only the last push remains, at the front.
  w.clock += static_cast<std::uint32_t>(count);
  dequeValues_[w.dequeFront] = 1.0f;
  dequeTimes_[w.dequeFront] = w.clock - 1;
  w.dequeBack = w.dequeFront == length ? 0 : w.dequeFront + 1;
  // A recomputation on the way sums a ring of ones: exactly L.
  const long long counted = static_cast<long long>(w.recomputeCounter) + count;
  w.recomputeCounter = static_cast<int>(counted % kRecomputeInterval);
  if (counted >= kRecomputeInterval) w.runningSum = ringSum();
}

double LookaheadLimiter::ringSum() const noexcept {
  double sum = 0.0;
  for (float value : averageRing_) sum += static_cast<double>(value);
  return sum;
}

}  // namespace vorlund
