// Layer: signal
// Look-ahead peak limiter: no sample leaves above the ceiling. For every sample it takes the
// gain that would bring it to the ceiling, the minimum of that gain over a 1.5 ms window, and
// a moving average of that minimum over the same window, so the gain starts falling a full
// window before a peak and reaches the peak's gain exactly when the peak leaves the delay line.
// The delay line runs also while the limiter is off, so the chain's latency never changes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "chain/biquad.h"
#include "chain/buffers.h"

namespace vorlund {

class LookaheadLimiter {
 public:
  struct Settings {
    bool enabled{};
    float ceilingDb{};
  };

  // Configuration thread; sizes the window buffers (allocates), then resets.
  void prepare(double sampleRate);
  // Real-time thread; settings only.
  void configure(const Settings& settings) noexcept;
  // Real-time thread; empty window, unity gain, silent delay line.
  void reset() noexcept;

  // Real-time thread; a block in place: each sample becomes the input of
  // lookaheadSamples() - 1 samples ago, limited.
  void process(float* samples, int count) noexcept {
    if (count <= 0) return;
    if (staysAtRest(samples, count)) {
      delayAtRest(samples, count);
      return;
    }
    Window window = window_;
    for (int i = 0; i < count; ++i) samples[i] = step(window, samples[i]);
    window_ = window;
  }

  // Bytes of the window buffers (L, L, L + 1 and L + 1 entries).
  std::size_t bufferBytes() const noexcept {
    return reservedBytes(delay_) + reservedBytes(averageRing_) + reservedBytes(dequeValues_) +
           reservedBytes(dequeTimes_);
  }
  // Window length L; the delay is L - 1 samples.
  int lookaheadSamples() const noexcept { return lookahead_; }
  // Smallest gain since the last call; starts a new minimum at 1.
  float takeBlockMinGain() noexcept {
    const float minimum = window_.blockMinGain;
    window_.blockMinGain = 1.0f;
    return minimum;
  }

 private:
  // Samples between exact recomputations of the running sum, which drop the float error that
  // adding and removing window minima accumulates.
  static constexpr int kRecomputeInterval = 65536;

  // The running state of the window, copied into a local for the duration of a call so that it
  // stays in registers.
  struct Window {
    int writePos = 0;  // shared position in the delay line and the average ring
    int dequeFront = 0;
    int dequeBack = 0;  // the queue is empty when front and back are equal
    int recomputeCounter = 0;
    std::uint32_t clock = 0;  // sample counter, the queue's time stamps
    float gain = 1.0f;
    float blockMinGain = 1.0f;
    double runningSum = 0.0;
  };
  static_assert(std::is_trivially_copyable_v<Window>, "copied into a local and back per call");

  float step(Window& w, float x) noexcept {
    const int length = lookahead_;
    const int last = length;  // the queue is a ring of L + 1 slots, 0..L

    const float magnitude = std::fabs(x);
    const float required = enabled_ && magnitude > ceiling_ ? ceiling_ / magnitude : 1.0f;

    // Monotonic queue: values rise from front to back, so the front is the window minimum.
    while (w.dequeBack != w.dequeFront) {
      const int previous = w.dequeBack == 0 ? last : w.dequeBack - 1;
      if (dequeValues_[previous] < required) break;
      w.dequeBack = previous;
    }
    dequeValues_[w.dequeBack] = required;
    dequeTimes_[w.dequeBack] = w.clock;
    w.dequeBack = w.dequeBack == last ? 0 : w.dequeBack + 1;
    // Unsigned difference: stays right when the clock wraps. The entry just pushed never
    // expires, so the loop ends even when the push filled every slot.
    while (w.clock - dequeTimes_[w.dequeFront] >= static_cast<std::uint32_t>(length))
      w.dequeFront = w.dequeFront == last ? 0 : w.dequeFront + 1;
    const float windowMinimum = dequeValues_[w.dequeFront];

    w.runningSum += static_cast<double>(windowMinimum - averageRing_[w.writePos]);
    averageRing_[w.writePos] = windowMinimum;
    if (++w.recomputeCounter == kRecomputeInterval) {
      w.recomputeCounter = 0;
      w.runningSum = ringSum();
    }
    const float average = static_cast<float>(w.runningSum / length);

    // Falls at once, recovers with the release time.
    w.gain = w.gain > average ? average : follow(w.gain, average, releaseCoefficient_);
    if (w.gain < w.blockMinGain) w.blockMinGain = w.gain;

    delay_[w.writePos] = x;
    w.writePos = w.writePos + 1 == length ? 0 : w.writePos + 1;
    const float delayed = delay_[w.writePos];
    ++w.clock;

    float y = delayed * w.gain;
    // Catches the float error of the average; the gain alone already meets the ceiling.
    if (enabled_) y = std::clamp(y, -ceiling_, ceiling_);
    return y;
  }
  // True when the whole block leaves the window at its fixed point: every entry of the
  // average ring 1, an average that reads exactly 1, a gain that following 1 does not move
  // (1, or the value just below it where the release step rounds away), and no sample of the
  // block needing a gain below 1. Each step would then only delay the sample and apply the gain.
  bool staysAtRest(const float* samples, int count) const noexcept;
  // The steps of a block at the fixed point, with the same bits and the same state: the delay
  // line, the clock, the queue's one entry, the recomputation schedule, the block's minimum.
  void delayAtRest(float* samples, int count) noexcept;
  // Sum of the average ring in double: removes the float error the running sum accumulates.
  double ringSum() const noexcept;

  bool enabled_ = false;
  int lookahead_ = 1;
  float ceiling_ = 1.0f;
  float releaseCoefficient_ = 0.0f;
  Window window_;
  // Sized in prepare: the delay line and the last L window minima (L each), and the minimum
  // queue, a ring of L + 1 slots.
  std::vector<float> delay_;
  std::vector<float> averageRing_;
  std::vector<float> dequeValues_;
  std::vector<std::uint32_t> dequeTimes_;
};

}  // namespace vorlund
