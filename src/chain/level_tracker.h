// Layer: signal
// Follows the level of a signal on a 5 ms grid, keeps a background (noise) estimate that rises
// slowly and falls fast, and flags voice while the level stands clearly above it. The grid runs
// on across blocks, so updates do not depend on how the signal is cut into blocks.
#pragma once

#include <algorithm>

#include "chain/biquad.h"
#include "chain/gain.h"

namespace vorlund {

class LevelTracker {
 public:
  // Configuration thread; rate-dependent constants, then start values.
  void prepare(double sampleRate) noexcept;
  // Real-time thread; start values, constants kept.
  void reset() noexcept;
  // Real-time thread; reads the block without changing it.
  void process(const float* samples, int count) noexcept;
  // Real-time thread; one sample of the same.
  void process(float x) noexcept {
    meanSquare_ = follow(meanSquare_, x * x, coefficient_);
    if (++counter_ >= interval_) updateLevel();
  }

  float backgroundDb() const noexcept { return backgroundDb_; }
  bool voiceActive() const noexcept { return voiceActive_; }

 private:
  static constexpr float kStartBackgroundDb = -70.0f;
  static constexpr float kLowestBackgroundDb = -110.0f;
  static constexpr float kHighestBackgroundDb = -10.0f;
  // 400 updates of 5 ms: the first 2 s learn the background quickly.
  static constexpr int kWarmupUpdates = 400;
  // 60 updates of 5 ms: the voice flag outlives the last voiced update by 300 ms.
  static constexpr int kHangUpdates = 60;
  // Rise rates of the background in dB per second: fast while warming up, slow afterwards, and
  // slower still while the level stands far above it (speech should hardly lift it).
  static constexpr float kWarmupRiseDbPerSecond = 12.0f;
  static constexpr float kRiseDbPerSecond = 1.5f;
  static constexpr float kSlowRiseDbPerSecond = 0.75f;
  static constexpr float kFarAboveDb = 20.0f;
  // Seconds per update, turning a rate per second into a step per update.
  static constexpr float kStepSeconds = 0.005f;
  // Share of the gap the background falls per update when the level is below it.
  static constexpr float kFallShare = 0.05f;
  static constexpr float kVoiceMarginDb = 12.0f;
  static constexpr float kVoiceFloorDb = -62.0f;

  // Inline although it runs once per 5 ms: a call would take the address of a caller's local
  // copy, which then keeps the mean square in memory instead of a register.
  void updateLevel() noexcept {
    counter_ = 0;
    const float levelDb = meanSquareToDb(meanSquare_);
    float rise;
    if (warmup_ > 0) {
      --warmup_;
      rise = kWarmupRiseDbPerSecond;
    } else {
      rise = levelDb - backgroundDb_ > kFarAboveDb ? kSlowRiseDbPerSecond : kRiseDbPerSecond;
    }
    if (backgroundDb_ > levelDb) {
      backgroundDb_ += (levelDb - backgroundDb_) * kFallShare;
    } else {
      backgroundDb_ += std::min(rise * kStepSeconds, levelDb - backgroundDb_);
    }
    backgroundDb_ = std::clamp(backgroundDb_, kLowestBackgroundDb, kHighestBackgroundDb);

    if (levelDb > backgroundDb_ + kVoiceMarginDb && levelDb > kVoiceFloorDb) {
      hangCounter_ = kHangUpdates;
      voiceActive_ = true;
    } else if (hangCounter_ > 0) {
      --hangCounter_;
    } else {
      voiceActive_ = false;
    }
  }

  float meanSquare_ = 0.0f;
  float backgroundDb_ = 0.0f;
  float coefficient_ = 0.0f;
  int interval_ = 1;
  int counter_ = 0;
  int hangCounter_ = 0;
  int warmup_ = 0;
  bool voiceActive_ = false;
};

}  // namespace vorlund
