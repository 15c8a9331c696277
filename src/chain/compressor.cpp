#include "chain/compressor.h"

#include <algorithm>
#include <cmath>

#include "chain/biquad.h"
#include "chain/fast_math.h"

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

  // Levels this far below the knee's lower edge cannot reach it through log10f's rounding (a
  // margin of 0.0009 dB against errors near 1e-5 dB), so they skip the logarithm; but only if
  // the quietest level, which never takes the logarithm, is under the knee as well.
  constexpr double kQuietLevelMargin = 1.0 - 1e-4;
  quietLevel_ = 0.0f;
  if (belowKnee(kQuietestDb - thresholdDb_)) {
    const double kneeEdgeDb = static_cast<double>(thresholdDb_) - 0.5 * kneeDb_;
    quietLevel_ = static_cast<float>(designExp10(kneeEdgeDb / 20.0) * kQuietLevelMargin);
  }
}

void Compressor::reset() noexcept {
  heldReduction_ = 0.0f;
  smoothedReduction_ = 0.0f;
  reductionDb_ = 0.0f;
}

}  // namespace vorlund
