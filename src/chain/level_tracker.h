// Layer: signal
// Follows the level of a signal on a 5 ms grid, keeps a background (noise) estimate that rises
// slowly and falls fast, and flags voice while the level stands clearly above it. The grid runs
// on across blocks, so updates do not depend on how the signal is cut into blocks.
#pragma once

#include "chain/biquad.h"

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
  void updateLevel() noexcept;

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
