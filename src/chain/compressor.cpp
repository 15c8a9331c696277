// Layer: signal
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
  kernels_ = &laneKernels(chosenVectorPath());
  reset();
}

void Compressor::configure(const Settings& settings) noexcept {
  const auto [enabled, thresholdDb, ratio, attackMs, releaseMs, kneeDb, makeupDb, autoMakeup] =
      settings;
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

  // Levels this far below the knee's lower edge cannot reach it through the logarithm's rounding (a
  // margin of 0.0009 dB against errors near 1e-5 dB), so they skip the logarithm; but only if
  // the quietest level, which never takes the logarithm, is under the knee as well.
  constexpr double kQuietLevelMargin = 1.0 - 1e-4;
  quietLevel_ = 0.0f;
  if (belowKnee(kCompressorQuietestDb - thresholdDb_)) {
    const double kneeEdgeDb =
        static_cast<double>(thresholdDb_) - 0.5 * static_cast<double>(kneeDb_);
    quietLevel_ = static_cast<float>(designExp10(kneeEdgeDb / 20.0) * kQuietLevelMargin);
  }
}

void Compressor::process(float* samples, int count) noexcept {
  if (!enabled_) return;
  constexpr int kChunk = 256;
  float db[kChunk];
  for (int start = 0; start < count; start += kChunk) {
    float* x = samples + start;
    const int n = std::min(kChunk, count - start);
    kernels_->levels(x, db, n, thresholdDb_, quietLevel_);
    // Taken at once and released slowly, then smoothed by the attack; the gain in dB replaces
    // the level.
    float held = heldReduction_;
    float smoothed = smoothedReduction_;
    for (int i = 0; i < n; ++i) {
      const float reduction = staticReduction(db[i]);
      held = std::max((1.0f - release_) * reduction + release_ * held, reduction);
      smoothed = (1.0f - attack_) * held + attack_ * smoothed;
      db[i] = makeupDb_ - smoothed;
    }
    heldReduction_ = held;
    smoothedReduction_ = smoothed;
    kernels_->applyGains(x, db, n);
  }
  reductionDb_ = -smoothedReduction_;
}

void Compressor::reset() noexcept {
  heldReduction_ = 0.0f;
  smoothedReduction_ = 0.0f;
  reductionDb_ = 0.0f;
}

}  // namespace vorlund
