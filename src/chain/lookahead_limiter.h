// Look-ahead peak limiter: no sample leaves above the ceiling. For every sample it takes the
// gain that would bring it to the ceiling, the minimum of that gain over a 1.5 ms window, and
// a moving average of that minimum over the same window, so the gain starts falling a full
// window before a peak and reaches the peak's gain exactly when the peak leaves the delay line.
// The delay line runs also while the limiter is off, so the chain's latency never changes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "chain/biquad.h"

namespace vorlund {

class LookaheadLimiter {
 public:
  // Configuration thread; sizes the window buffers (allocates), then resets.
  void prepare(double sampleRate);
  // Real-time thread; settings only.
  void configure(bool enabled, float ceilingDb) noexcept;
  // Real-time thread; empty window, unity gain, silent delay line.
  void reset() noexcept;

  // Real-time thread; returns the input of lookaheadSamples() - 1 samples ago, limited.
  float process(float x) noexcept {
    const int length = lookahead_;
    const int capacity = length + 1;

    const float magnitude = std::fabs(x);
    const float required = enabled_ && magnitude > ceiling_ ? ceiling_ / magnitude : 1.0f;

    // Monotonic queue: values rise from front to back, so the front is the window minimum.
    while (dequeBack_ != dequeFront_) {
      const int previous = (dequeBack_ + length) % capacity;
      if (dequeValues_[previous] < required) break;
      dequeBack_ = previous;
    }
    dequeValues_[dequeBack_] = required;
    dequeTimes_[dequeBack_] = clock_;
    dequeBack_ = (dequeBack_ + 1) % capacity;
    // Unsigned difference: stays right when the clock wraps. The entry just pushed never
    // expires, so the loop ends even when the push filled every slot.
    while (clock_ - dequeTimes_[dequeFront_] >= static_cast<std::uint32_t>(length))
      dequeFront_ = (dequeFront_ + 1) % capacity;
    const float windowMinimum = dequeValues_[dequeFront_];

    runningSum_ += static_cast<double>(windowMinimum - averageRing_[writePos_]);
    averageRing_[writePos_] = windowMinimum;
    if (++recomputeCounter_ == kRecomputeInterval) recomputeSum();
    const float average = static_cast<float>(runningSum_ / length);

    // Falls at once, recovers with the release time.
    gain_ = gain_ > average ? average : follow(gain_, average, releaseCoefficient_);
    if (gain_ < blockMinGain_) blockMinGain_ = gain_;

    delay_[writePos_] = x;
    writePos_ = writePos_ + 1 == length ? 0 : writePos_ + 1;
    const float delayed = delay_[writePos_];
    ++clock_;

    float y = delayed * gain_;
    // Catches the float error of the average; the gain alone already meets the ceiling.
    if (enabled_) y = std::clamp(y, -ceiling_, ceiling_);
    return y;
  }

  // Window length L; the delay is L - 1 samples.
  int lookaheadSamples() const noexcept { return lookahead_; }
  // Smallest gain since the last call; starts a new minimum at 1.
  float takeBlockMinGain() noexcept {
    const float minimum = blockMinGain_;
    blockMinGain_ = 1.0f;
    return minimum;
  }

 private:
  // Samples between exact recomputations of the running sum, which drop the float error that
  // adding and removing window minima accumulates.
  static constexpr int kRecomputeInterval = 65536;

  void recomputeSum() noexcept;

  bool enabled_ = false;
  int lookahead_ = 1;
  int writePos_ = 0;
  int dequeFront_ = 0;
  int dequeBack_ = 0;
  int recomputeCounter_ = 0;
  std::uint32_t clock_ = 0;
  float ceiling_ = 1.0f;
  float releaseCoefficient_ = 0.0f;
  float gain_ = 1.0f;
  float blockMinGain_ = 1.0f;
  double runningSum_ = 0.0;
  // Sized in prepare: the delay line and the last L window minima (L each), and the minimum
  // queue, a ring of L + 1 slots.
  std::vector<float> delay_;
  std::vector<float> averageRing_;
  std::vector<float> dequeValues_;
  std::vector<std::uint32_t> dequeTimes_;
};

}  // namespace vorlund
