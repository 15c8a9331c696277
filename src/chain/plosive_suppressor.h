// Tames bursts of low-frequency energy (breath pops, plosives hitting the capsule) without
// touching the rest of the voice: a fourth-order Linkwitz-Riley split at 110 Hz, an envelope
// per band, and a cut of the low band only while it stands far above the high band. The two
// bands sum back to an all-pass, so nothing but phase changes while no cut is applied.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

#include "chain/biquad.h"

namespace vorlund {

class PlosiveSuppressor {
 public:
  static constexpr double kCrossoverHz = 110.0;

  // Configuration thread; designs the split for the rate and clears the state.
  void prepare(double sampleRate) noexcept;
  // Real-time thread; takes the switch and the strength (0..1) without touching signal state.
  void configure(bool enabled, float strength) noexcept;
  // Real-time thread. The split and the envelopes run also while disabled, so switching on
  // starts from current state rather than stale state.
  float process(float x) noexcept {
    const float low = lowPass_[1].process(lowPass_[0].process(x));
    const float high = highPass_[1].process(highPass_[0].process(x));
    lowEnvelope_ = envelopeCoefficients_.follow(lowEnvelope_, std::fabs(low));
    highEnvelope_ = envelopeCoefficients_.follow(highEnvelope_, std::fabs(high));
    if (!enabled_) return x;

    // The cut grows with the square of the excess over the trigger level, down to the floor.
    float target = 1.0f;
    if (lowEnvelope_ > threshold_) {
      const float limit = triggerRatio_ * highEnvelope_;
      if (lowEnvelope_ > limit) {
        const float ratio = limit / lowEnvelope_;
        target = std::max(ratio * ratio, minGain_);
      }
    }
    gain_ = follow(gain_, target, gain_ > target ? gainAttack_ : gainRelease_);
    if (gain_ < blockMinGain_) blockMinGain_ = gain_;
    return gain_ * low + high;
  }
  // Real-time thread; clears signal state, keeps coefficients.
  void reset() noexcept;

  // Smallest low-band gain since the last clearBlockMinGain(): the per-block meter.
  float blockMinGain() const noexcept { return blockMinGain_; }
  void clearBlockMinGain() noexcept { blockMinGain_ = 1.0f; }

 private:
  bool enabled_ = false;
  std::array<BiquadSection, 2> lowPass_{};
  std::array<BiquadSection, 2> highPass_{};
  AttackRelease envelopeCoefficients_{};  // shared by both band envelopes
  float lowEnvelope_ = 0.0f;
  float highEnvelope_ = 0.0f;
  float triggerRatio_ = 4.5f;
  float minGain_ = 1.0f;
  float threshold_ = 0.0f;
  float gainAttack_ = 0.0f;
  float gainRelease_ = 0.0f;
  float gain_ = 1.0f;
  float blockMinGain_ = 1.0f;
};

}  // namespace vorlund
