#include "chain/compressor.h"

#include <algorithm>

#include "chain/biquad.h"

namespace vorlund {
namespace {

// Automatic make-up restores half the reduction a full-scale level would get, up to 15 dB.
constexpr float kAutoMakeupShare = 0.5f;
constexpr float kAutoMakeupMaxDb = 15.0f;

}  // namespace

void Compressor::prepare(double sampleRate) noexcept {
  sampleRate_ = sampleRate;
  reset();
}

void Compressor::configure(bool enabled, float thresholdDb, float ratio, float attackMs,
                           float releaseMs, float kneeDb, float makeupDb,
                           bool autoMakeup) noexcept {
  enabled_ = enabled;
  thresholdDb_ = thresholdDb;
  kneeDb_ = std::max(0.0f, kneeDb);
  attack_ = smoothingCoefficient(attackMs, sampleRate_);
  release_ = smoothingCoefficient(releaseMs, sampleRate_);
  const float inverseRatio = 1.0f / std::max(1.0f, ratio);
  slope_ = inverseRatio - 1.0f;
  float makeup = makeupDb;
  if (autoMakeup) {
    makeup += std::clamp((1.0f - inverseRatio) * (-kAutoMakeupShare * thresholdDb), 0.0f,
                         kAutoMakeupMaxDb);
  }
  makeupDb_ = enabled ? makeup : 0.0f;
}

void Compressor::reset() noexcept {
  heldReduction_ = 0.0f;
  smoothedReduction_ = 0.0f;
  reductionDb_ = 0.0f;
}

}  // namespace vorlund
