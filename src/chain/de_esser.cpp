// Layer: signal
#include "chain/de_esser.h"

#include <algorithm>
#include <cmath>

#include "chain/fast_math.h"
#include "chain/gain.h"

namespace vorlund {

void DeEsser::prepare(double sampleRate) noexcept {
  constexpr double kEnvelopeAttackMs = 0.5;
  constexpr double kEnvelopeReleaseMs = 30.0;
  // A sidechain envelope below this is too quiet to be sibilance, whatever the ratio.
  constexpr float kDetectorThresholdDb = -50.0f;
  constexpr double kGainAttackMs = 1.0;
  constexpr double kGainReleaseMs = 45.0;

  sampleRate_ = sampleRate;
  envelopeCoefficients_.set(kEnvelopeAttackMs, kEnvelopeReleaseMs, sampleRate);
  detectorThreshold_ = dbToGain(kDetectorThresholdDb);
  gainAttack_ = smoothingCoefficient(kGainAttackMs, sampleRate);
  gainRelease_ = smoothingCoefficient(kGainReleaseMs, sampleRate);
  design();
  reset();
}

void DeEsser::configure(const Settings& settings) noexcept {
  const auto [enabled, frequencyHz, amount] = settings;
  // Amount 0..1 lowers the relative threshold from -6 to -18 dB and raises the deepest cut
  // from 3 to 12 dB.
  constexpr float kThresholdAtZeroDb = -6.0f;
  constexpr float kThresholdPerAmountDb = 12.0f;
  constexpr float kReductionAtZeroDb = 3.0f;
  constexpr float kReductionPerAmountDb = 9.0f;
  // Band ratios this far below the relative threshold cannot reach it through the logarithm's
  // rounding (a margin of 0.0009 dB against errors near 1e-6 dB), so they skip the logarithm.
  constexpr double kQuietRatioMargin = 1.0 - 1e-4;
  enabled_ = enabled;
  relativeThresholdDb_ = kThresholdAtZeroDb - kThresholdPerAmountDb * amount;
  maxReductionDb_ = kReductionAtZeroDb + kReductionPerAmountDb * amount;
  quietRatio_ = static_cast<float>(designExp10(static_cast<double>(relativeThresholdDb_) / 20.0) *
                                   kQuietRatioMargin);
  deepestGain_ = dbToGain(-maxReductionDb_);
  if (!(frequencyHz == frequency_)) {
    frequency_ = frequencyHz;
    design();
  }
}

void DeEsser::design() noexcept {
  constexpr double kSidechainQ = 1.0;
  // The turned-down band starts a little below the detection band, Butterworth.
  constexpr double kSplitShare = 0.55;
  constexpr double kSplitQ = 0.7071;
  BiquadSection sidechain;
  BiquadSection split;
  designBiquad(sidechain, FilterType::BandPass, sampleRate_, frequency_, 0.0, kSidechainQ);
  designBiquad(split, FilterType::HighPass, sampleRate_,
               kSplitShare * static_cast<double>(frequency_), 0.0, kSplitQ);
  filters_.setCoefficients(sidechain, split);
}

void DeEsser::reset() noexcept {
  filters_.reset();
  envelopes_ = FloatPair{};
  gain_ = 1.0f;
  blockMinGain_ = 1.0f;
}

}  // namespace vorlund
