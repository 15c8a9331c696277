// Reduces sibilance. The detector compares the envelope of a band around the sibilance
// frequency with the envelope of the whole signal, so it reacts to spectral balance rather
// than loudness; while the band stands above a relative threshold, only the part of the
// spectrum above 0.55 x the sibilance frequency is turned down.
#pragma once

#include "chain/biquad.h"

namespace vorlund {

class DeEsser {
 public:
  // Configuration thread; coefficients for the rate, filters designed for the stored
  // frequency, state cleared.
  void prepare(double sampleRate) noexcept;
  // Real-time thread; redesigns the filters only when the frequency changes (NaN always
  // differs), and never touches signal state.
  void configure(bool enabled, float frequencyHz, float amount) noexcept;
  // Real-time thread. Filters and envelopes run also while disabled; then the gain returns to 1.
  float process(float x) noexcept;
  // Real-time thread; clears signal state, keeps coefficients.
  void reset() noexcept;

  // Smallest upper-band gain since the last clearBlockMinGain(): the per-block meter.
  float blockMinGain() const noexcept { return blockMinGain_; }
  void clearBlockMinGain() noexcept { blockMinGain_ = 1.0f; }

  const BiquadSection& sidechain() const noexcept { return sidechain_; }
  const BiquadSection& split() const noexcept { return split_; }

 private:
  void design() noexcept;

  double sampleRate_ = 48000.0;
  bool enabled_ = false;
  float frequency_ = 6500.0f;
  float relativeThresholdDb_ = -6.0f;
  float maxReductionDb_ = 3.0f;
  float detectorThreshold_ = 0.0f;
  BiquadSection sidechain_{};
  BiquadSection split_{};
  AttackRelease envelopeCoefficients_{};  // shared by the sidechain and full-band envelopes
  float sideEnvelope_ = 0.0f;
  float fullEnvelope_ = 0.0f;
  float gainAttack_ = 0.0f;
  float gainRelease_ = 0.0f;
  float gain_ = 1.0f;
  float blockMinGain_ = 1.0f;
};

}  // namespace vorlund
