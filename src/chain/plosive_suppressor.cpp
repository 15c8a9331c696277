// Layer: signal
#include "chain/plosive_suppressor.h"

#include <algorithm>
#include <cmath>

#include "chain/gain.h"
#include "chain/numbers.h"

namespace vorlund {

void PlosiveSuppressor::prepare(double sampleRate) noexcept {
  // Two cascaded Butterworth sections per band make the Linkwitz-Riley pair. The designer
  // holds the crossover at 0.49 x rate where 110 Hz does not fit.
  constexpr double kEnvelopeAttackMs = 0.3;
  constexpr double kEnvelopeReleaseMs = 40.0;
  // Low-band envelopes below this level are never cut, whatever the band ratio.
  constexpr float kThresholdDb = -32.0f;
  constexpr double kGainAttackMs = 0.5;
  constexpr double kGainReleaseMs = 70.0;

  BiquadSection lowPass;
  BiquadSection highPass;
  designBiquad(lowPass, FilterType::LowPass, sampleRate, kCrossoverHz, 0.0, kButterworthQ);
  designBiquad(highPass, FilterType::HighPass, sampleRate, kCrossoverHz, 0.0, kButterworthQ);
  for (SectionPair& s : split_) s.setCoefficients(lowPass, highPass);
  envelopeCoefficients_.set(kEnvelopeAttackMs, kEnvelopeReleaseMs, sampleRate);
  threshold_ = dbToGain(kThresholdDb);
  gainAttack_ = smoothingCoefficient(kGainAttackMs, sampleRate);
  gainRelease_ = smoothingCoefficient(kGainReleaseMs, sampleRate);
  reset();
}

void PlosiveSuppressor::configure(const Settings& settings) noexcept {
  const auto [enabled, strength] = settings;
  // Strength 0..1 lowers the trigger ratio from 6 to 3 and deepens the floor from -6 to -24 dB.
  constexpr float kRatioAtZero = 6.0f;
  constexpr float kRatioPerStrength = 3.0f;
  constexpr float kFloorAtZeroDb = 6.0f;
  constexpr float kFloorPerStrengthDb = 18.0f;
  enabled_ = enabled;
  triggerRatio_ = kRatioAtZero - kRatioPerStrength * strength;
  minGain_ = dbToGain(-(kFloorPerStrengthDb * strength + kFloorAtZeroDb));
}

void PlosiveSuppressor::reset() noexcept {
  for (SectionPair& s : split_) s.reset();
  envelopes_ = FloatPair{};
  gain_ = 1.0f;
  blockMinGain_ = 1.0f;
}

}  // namespace vorlund
