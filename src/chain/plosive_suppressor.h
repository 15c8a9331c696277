// Layer: signal
// Tames bursts of low-frequency energy (breath pops, plosives hitting the capsule) without
// touching the rest of the voice: a fourth-order Linkwitz-Riley split at 110 Hz, an envelope
// per band, and a cut of the low band only while it stands far above the high band. The two
// bands sum back to an all-pass, so nothing but phase changes while no cut is applied.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

#include "chain/biquad.h"
#include "chain/section_pair.h"

namespace vorlund {

class PlosiveSuppressor {
 public:
  static constexpr double kCrossoverHz = 110.0;

  struct Settings {
    bool enabled{};
    float strength{};  // 0..1
  };

  // Configuration thread; designs the split for the rate and clears the state.
  void prepare(double sampleRate) noexcept;
  // Real-time thread; takes the switch and the strength (0..1) without touching signal state.
  void configure(const Settings& settings) noexcept;
  // Real-time thread. The split and the envelopes run also while disabled, so switching on
  // starts from current state rather than stale state.
  float process(float x) noexcept {
    // Lane 0 the low band, lane 1 the high band.
    const FloatPair bands = split_[1].process(split_[0].process(FloatPair{x, x}));
    envelopes_ = followPair(envelopes_, absPair(bands), envelopeCoefficients_);
    if (!enabled_) return x;
    const float low = bands[0];
    const float high = bands[1];
    const float lowEnvelope = envelopes_[0];
    const float highEnvelope = envelopes_[1];

    // The cut grows with the square of the excess over the trigger level, down to the floor.
    float target = 1.0f;
    if (lowEnvelope > threshold_) {
      const float limit = triggerRatio_ * highEnvelope;
      if (lowEnvelope > limit) {
        const float ratio = limit / lowEnvelope;
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
  // The low-pass (lane 0) and high-pass (lane 1) sections, first and second of each band.
  std::array<SectionPair, 2> split_{};
  AttackRelease envelopeCoefficients_{};  // shared by both band envelopes
  FloatPair envelopes_{};                 // low band, high band
  float triggerRatio_ = 4.5f;
  float minGain_ = 1.0f;
  float threshold_ = 0.0f;
  float gainAttack_ = 0.0f;
  float gainRelease_ = 0.0f;
  float gain_ = 1.0f;
  float blockMinGain_ = 1.0f;
};

}  // namespace vorlund
