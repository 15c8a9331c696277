// Layer: signal
#include "chain/noise_gate.h"

#include <algorithm>

#include "chain/gain.h"

namespace vorlund {
namespace {

// The envelope catches an onset within a fraction of a millisecond and rides over the gaps
// between the periods of a voiced sound.
constexpr double kEnvelopeAttackMs = 0.5;
constexpr double kEnvelopeReleaseMs = 25.0;
// The automatic open threshold: this far above the background, within these bounds.
constexpr float kAutoMarginDb = 8.0f;
constexpr float kAutoLowestDb = -75.0f;
constexpr float kAutoHighestDb = -25.0f;
constexpr double kSecondsPerMs = 0.001;

}  // namespace

void NoiseGate::prepare(double sampleRate) noexcept {
  sampleRate_ = sampleRate;
  envelopeCoefficients_.set(kEnvelopeAttackMs, kEnvelopeReleaseMs, sampleRate);
  reset();
}

void NoiseGate::configure(const Settings& settings) noexcept {
  const auto [enabled, thresholdDb, rangeDb, attackMs, holdMs, releaseMs] = settings;
  enabled_ = enabled;
  setThresholds(thresholdDb);
  closedGain_ = dbToGain(-rangeDb);
  gainCoefficients_.set(attackMs, releaseMs, sampleRate_);
  holdSamples_ = static_cast<int>(static_cast<double>(holdMs) * kSecondsPerMs * sampleRate_);
}

void NoiseGate::setAutoThreshold(float backgroundDb) noexcept {
  setThresholds(std::clamp(backgroundDb + kAutoMarginDb, kAutoLowestDb, kAutoHighestDb));
}

void NoiseGate::setThresholds(float openDb) noexcept {
  openThreshold_ = dbToGain(openDb);
  closeThreshold_ = dbToGain(openDb - kHysteresisDb);
}

void NoiseGate::reset() noexcept {
  envelope_ = 0.0f;
  gain_ = 1.0f;
  holdCounter_ = 0;
  open_ = true;
}

}  // namespace vorlund
