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
  float process(float x) noexcept { return applyFiltered(x, filters_.process(FloatPair{x, x})); }
  // process() after the filters: the envelopes and the cut, given the sidechain band (lane 0)
  // and the split's upper band (lane 1) of x. For a caller that runs the filters packed with
  // other sections.
  float applyFiltered(float x, FloatPair filtered) noexcept {
    return applyTarget(x, filtered[1], targetFor(detect(x, filtered)));
  }
  // applyFiltered() in three steps, for a caller that works out the targets of several samples
  // at once: the envelopes, which give the band ratio the cut follows (0 while the detector
  // rests); the target gain for that ratio; the gain's step towards it on the upper band `high`.
  float detect(float x, FloatPair filtered) noexcept {
    // Lane 0 the sidechain envelope, lane 1 the full-band envelope.
    const FloatPair levels{filtered[0], x};
    envelopes_ = followPair(envelopes_, absPair(levels), envelopeCoefficients_);
    const float sideEnvelope = envelopes_[0];
    const float fullEnvelope = envelopes_[1];
    if (enabled_ && sideEnvelope > detectorThreshold_ && fullEnvelope > kSilentFullBand)
      return sideEnvelope / fullEnvelope;
    return 0.0f;
  }
  float targetFor(float ratio) const noexcept {
    // Below quietRatio_ (> 0) the band is surely under the relative threshold: no cut; above
    // loudRatio_ it surely asks for the deepest cut. Only between them is the logarithm needed.
    if (ratio < quietRatio_) return 1.0f;
    return ratio > loudRatio_ ? deepestGain_ : targetGain(ratio);
  }
  float applyTarget(float x, float high, float target) noexcept {
    gain_ = follow(gain_, target, gain_ > target ? gainAttack_ : gainRelease_);
    if (gain_ < blockMinGain_) blockMinGain_ = gain_;
    return x - high + gain_ * high;
  }

  // What targetFor() works with, for a caller that computes it a vector of ratios at a time.
  struct CutShape {
    float quietRatio;
    float loudRatio;
    float relativeThresholdDb;
    float cutPerDbOver;
    float maxReductionDb;
    float deepestGain;
  };
  CutShape cutShape() const noexcept {
    return {quietRatio_,   loudRatio_,      relativeThresholdDb_,
            kCutPerDbOver, maxReductionDb_, deepestGain_};
  }
  // Real-time thread; clears signal state, keeps coefficients.
  void reset() noexcept;

  // Smallest upper-band gain since the last clearBlockMinGain(): the per-block meter.
  float blockMinGain() const noexcept { return blockMinGain_; }
  void clearBlockMinGain() noexcept { blockMinGain_ = 1.0f; }

  // The sidechain band-pass and the split's high-pass, coefficients and state.
  BiquadSection sidechain() const noexcept { return filters_.section(0); }
  BiquadSection split() const noexcept { return filters_.section(1); }
  // Both, packed: the sidechain in lane 0, the split in lane 1.
  SectionPair& filters() noexcept { return filters_; }

 private:
  static constexpr float kSilentFullBand = 1e-9f;
  // Each dB of the band above the relative threshold takes this much off the upper band.
  static constexpr float kCutPerDbOver = 1.5f;

  void design() noexcept;
  // Gain of the upper band for a sidechain-to-full-band envelope ratio.
  float targetGain(float ratio) const noexcept {
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
  float loudRatio_ = 0.0f;
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
