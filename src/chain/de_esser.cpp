#include "chain/de_esser.h"

#include <algorithm>
#include <cmath>

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

void DeEsser::configure(bool enabled, float frequencyHz, float amount) noexcept {
  // Amount 0..1 lowers the relative threshold from -6 to -18 dB and raises the deepest cut
  // from 3 to 12 dB.
  constexpr float kThresholdAtZeroDb = -6.0f;
  constexpr float kThresholdPerAmountDb = 12.0f;
  constexpr float kReductionAtZeroDb = 3.0f;
  constexpr float kReductionPerAmountDb = 9.0f;
  enabled_ = enabled;
  relativeThresholdDb_ = kThresholdAtZeroDb - kThresholdPerAmountDb * amount;
  maxReductionDb_ = kReductionAtZeroDb + kReductionPerAmountDb * amount;
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
  designBiquad(sidechain_, FilterType::BandPass, sampleRate_, frequency_, 0.0, kSidechainQ);
  designBiquad(split_, FilterType::HighPass, sampleRate_, kSplitShare * frequency_, 0.0, kSplitQ);
}

float DeEsser::process(float x) noexcept {
  // Each dB of the band above the relative threshold takes this much off the upper band.
  constexpr float kCutPerDbOver = 1.5f;
  constexpr float kSilentFullBand = 1e-9f;
  constexpr float kSmallestRatio = 1e-10f;
  constexpr float kFloorDb = -200.0f;

  const float side = sidechain_.process(x);
  sideEnvelope_ = envelopeCoefficients_.follow(sideEnvelope_, std::fabs(side));
  fullEnvelope_ = envelopeCoefficients_.follow(fullEnvelope_, std::fabs(x));

  float target = 1.0f;
  if (enabled_ && sideEnvelope_ > detectorThreshold_ && fullEnvelope_ > kSilentFullBand) {
    const float ratio = sideEnvelope_ / fullEnvelope_;
    const float ratioDb = ratio > kSmallestRatio ? 20.0f * std::log10(ratio) : kFloorDb;
    const float over = ratioDb - relativeThresholdDb_;
    if (over > 0.0f) target = dbToGain(-std::min(maxReductionDb_, kCutPerDbOver * over));
  }
  gain_ = follow(gain_, target, gain_ > target ? gainAttack_ : gainRelease_);
  if (gain_ < blockMinGain_) blockMinGain_ = gain_;

  const float high = split_.process(x);
  return x - high + gain_ * high;
}

void DeEsser::reset() noexcept {
  sidechain_.reset();
  split_.reset();
  sideEnvelope_ = 0.0f;
  fullEnvelope_ = 0.0f;
  gain_ = 1.0f;
  blockMinGain_ = 1.0f;
}

}  // namespace vorlund
