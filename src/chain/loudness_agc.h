// Layer: signal
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
  struct Settings {
    bool enabled{};
    float targetDb{};   // loudness aimed for, LUFS
    float maxGainDb{};  // most gain it may add
    float speed{};      // 0..1 maps to 1..10 dB per second
  };

  // Real-time thread; settings only.
  void configure(const Settings& settings) noexcept;
  // Real-time thread.
  void reset() noexcept;
  // Linear ramp from the gain reached at the end of the previous block to the block's target.
  struct Ramp {
    float gain;
    float step;
    // Multiplying by exactly 1 changes nothing, so such a block needs no pass.
    bool isUnity() const noexcept { return gain == 1.0f && step == 0.0f; }
    float apply(float x) noexcept {
      gain += step;
      return x * gain;
    }
  };

  // Real-time thread; measures the block as it comes in, then multiplies it in place.
  void process(float* samples, int count, bool voiceActive) noexcept;
  // Real-time thread; the same in pieces, for a caller that fuses the measuring into its own
  // per-sample loop: measure() every sample entering the stage, then finishBlock() once, whose
  // ramp multiplies the block's samples in order.
  void measure(float x) noexcept {
    const float k = shelf_.process(highPass_.process(x));
    meanSquare_ = follow(meanSquare_, k * k, coefficient_);
  }
  Ramp finishBlock(int count, bool voiceActive) noexcept;

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
