// Layer: signal
// Reduces sibilance. The detector compares the envelope of a band around the sibilance
// frequency with the envelope of the whole signal, so it reacts to spectral balance rather
// than loudness; while the band stands above a relative threshold, only the part of the
// spectrum above 0.55 x the sibilance frequency is turned down.
#pragma once

#include <cmath>

#include "chain/biquad.h"
#include "chain/gain.h"
#include "chain/section_pair.h"

namespace vorlund {

class DeEsser {
 public:
  struct Settings {
    bool enabled{};
    float frequencyHz{};  // centre of the detection band
    float amount{};       // 0..1: deeper threshold and cut
  };

  // Configuration thread; coefficients for the rate, filters designed for the stored
  // frequency, state cleared.
  void prepare(double sampleRate) noexcept;
  // Real-time thread; redesigns the filters only when the frequency changes (NaN always
  // differs), and never touches signal state.
  void configure(const Settings& settings) noexcept;
  // Real-time thread. Filters and envelopes run also while disabled; then the gain returns to 1.
  float process(float x) noexcept {
    // Lane 0 the sidechain band and its envelope, lane 1 the split's upper band and the
    // full-band envelope.
    const FloatPair filtered = filters_.process(FloatPair{x, x});
    const FloatPair levels{filtered[0], x};
    envelopes_ = followPair(envelopes_, absPair(levels), envelopeCoefficients_);
    const float sideEnvelope = envelopes_[0];
    const float fullEnvelope = envelopes_[1];

    float target = 1.0f;
    if (enabled_ && sideEnvelope > detectorThreshold_ && fullEnvelope > kSilentFullBand) {
      const float ratio = sideEnvelope / fullEnvelope;
      // Below quietRatio_ the band is surely under the relative threshold: no cut.
      if (!(ratio < quietRatio_)) target = targetGain(ratio);
    }
    gain_ = follow(gain_, target, gain_ > target ? gainAttack_ : gainRelease_);
    if (gain_ < blockMinGain_) blockMinGain_ = gain_;

    const float high = filtered[1];
    return x - high + gain_ * high;
  }
  // Real-time thread; clears signal state, keeps coefficients.
  void reset() noexcept;

  // Smallest upper-band gain since the last clearBlockMinGain(): the per-block meter.
  float blockMinGain() const noexcept { return blockMinGain_; }
  void clearBlockMinGain() noexcept { blockMinGain_ = 1.0f; }

  // The sidechain band-pass and the split's high-pass, coefficients and state.
  BiquadSection sidechain() const noexcept { return filters_.section(0); }
  BiquadSection split() const noexcept { return filters_.section(1); }

 private:
  static constexpr float kSilentFullBand = 1e-9f;

  void design() noexcept;
  // Gain of the upper band for a sidechain-to-full-band envelope ratio.
  float targetGain(float ratio) const noexcept {
    // Each dB of the band above the relative threshold takes this much off the upper band.
    constexpr float kCutPerDbOver = 1.5f;
    const float ratioDb = amplitudeToDb(ratio);
    const float over = ratioDb - relativeThresholdDb_;
    if (!(over > 0.0f)) return 1.0f;
    const float cutDb = kCutPerDbOver * over;
    // At the deepest cut the gain is the same every time: computed once in configure().
    return cutDb < maxReductionDb_ ? dbToGain(-cutDb) : deepestGain_;
  }

  double sampleRate_ = 48000.0;
  bool enabled_ = false;
  float frequency_ = 6500.0f;
  float relativeThresholdDb_ = -6.0f;
  float maxReductionDb_ = 3.0f;
  float quietRatio_ = 0.0f;
  float deepestGain_ = 1.0f;
  float detectorThreshold_ = 0.0f;
  SectionPair filters_{};                 // the sidechain (lane 0) and the split (lane 1)
  AttackRelease envelopeCoefficients_{};  // shared by the sidechain and full-band envelopes
  FloatPair envelopes_{};                 // sidechain, full band
  float gainAttack_ = 0.0f;
  float gainRelease_ = 0.0f;
  float gain_ = 1.0f;
  float blockMinGain_ = 1.0f;
};

}  // namespace vorlund
