// Loudness-driven automatic gain: measures loudness with the K-weighting of ITU-R BS.1770 over
// 400 ms, steers its gain towards a target loudness only while voice is present, limits how
// fast the gain may move (falling twice as fast as rising), and ramps the new gain linearly
// across each block. Disabled, it fades back to unity and then multiplies by exactly 1.
#pragma once

#include "chain/biquad.h"

namespace vorlund {

class LoudnessAgc {
 public:
  // Configuration thread; designs the weighting and sets start values.
  void prepare(double sampleRate) noexcept;
  // Real-time thread; settings only. `speed` 0..1 maps to 1..10 dB per second.
  void configure(bool enabled, float targetDb, float maxGainDb, float speed) noexcept;
  // Real-time thread.
  void reset() noexcept;
  // Real-time thread; measures the block as it comes in, then multiplies it in place.
  void process(float* samples, int count, bool voiceActive) noexcept;

  // Gain reached at the end of the last block, dB.
  float gainDb() const noexcept { return gainDb_; }

 private:
  double sampleRate_ = 48000.0;
  bool enabled_ = false;
  BiquadSection shelf_;
  BiquadSection highPass_;
  float meanSquare_ = 0.0f;
  float coefficient_ = 0.0f;
  float gainDb_ = 0.0f;
  float currentGain_ = 1.0f;
  float targetLoudness_ = 0.0f;
  float maxGainDb_ = 0.0f;
  float ratePerSecond_ = 0.0f;
};

}  // namespace vorlund
