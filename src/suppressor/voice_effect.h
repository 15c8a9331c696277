// Layer: signal
// Turns the voice into one of six characters (ring modulator with comb, two saturations,
// pitch shifter, echo, reverberator) and blends it with the dry voice. The modes share one
// power-of-two delay line, four filter sections and the reverberator's buffers, all sized in
// prepare(). A newly chosen mode starts from cleared state; while the mode is Off or the mix
// is 0 the state is frozen, not cleared. The chain's reset does not touch this stage.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "chain/biquad.h"
#include "chain/buffers.h"
#include "chain/lane_kernels.h"
#include "engine/parameter_block.h"

namespace vorlund {

class VoiceEffect {
 public:
  static constexpr int kCombCount = 4;
  static constexpr int kAllpassCount = 2;

  struct Settings {
    VoiceEffectMode mode = VoiceEffectMode::Off;
    float mix{};    // 0..1: share of the effect in the output
    float param{};  // 0..1: the mode's one quantity (pitch, delay, decay, drive...)
  };

  // Configuration thread; allocates and clears every buffer for the rate, then applies the
  // stored mode's settings. The first active block afterwards starts from cleared state.
  void prepare(double sampleRate);
  // Either thread, between blocks; stores the settings and computes the mode's coefficients.
  // Clears nothing.
  void configure(const Settings& settings) noexcept;
  // Real-time thread; one mono block in place.
  void process(float* samples, int count) noexcept;

  // Real-time thread; clears every signal state. The chain calls it only to recover from a
  // state that has gone non-finite.
  void reset() noexcept;

  // Bytes of the delay line and the reverberator's buffers.
  std::size_t bufferBytes() const noexcept;

  int delayLength() const noexcept { return static_cast<int>(delayLine_.size()); }
  int combLength(int i) const noexcept { return combLength_[i]; }
  int allpassLength(int i) const noexcept { return allpassLength_[i]; }

 private:
  void applyModeSettings() noexcept;
  float readDelay(float delay) const noexcept;
  void writeDelay(float value) noexcept;
  float ringModSample(float x) noexcept;
  void saturate(float* samples, int count, float mix, float dry) noexcept;
  float pitchSample(float x) noexcept;
  float echoSample(float x) noexcept;
  float reverbSample(float x) noexcept;

  double sampleRate_ = 48000.0;
  const LaneKernels* kernels_ = &sse2::laneKernels();
  VoiceEffectMode mode_ = VoiceEffectMode::Off;
  std::optional<VoiceEffectMode> activeMode_;  // the mode whose state the buffers hold
  float mix_ = 0.5f;
  float param_ = 0.5f;

  std::vector<float> delayLine_;  // sized in prepare(), a power of two
  std::int32_t delayMask_ = 0;
  std::int32_t delayWrite_ = 0;
  std::array<BiquadSection, 4> sections_{};
  BiquadSection echoFilter_{};

  float oscPhase_ = 0.0f;
  float oscStep_ = 0.0f;
  float combDelay_ = 0.0f;
  float drive_ = 1.0f;
  float driveNorm_ = 1.0f;
  float pitchRatio_ = 1.0f;
  float pitchPhase_ = 0.0f;
  float pitchWindow_ = 0.0f;
  float echoDelay_ = 0.0f;
  float reverbFeedback_ = 0.0f;
  float reverbDamping_ = 0.0f;

  std::array<std::vector<float>, kCombCount> combBuffers_;        // sized in prepare()
  std::array<std::vector<float>, kAllpassCount> allpassBuffers_;  // sized in prepare()
  std::array<std::int32_t, kCombCount> combLength_{};
  std::array<std::int32_t, kCombCount> combPos_{};
  std::array<std::int32_t, kAllpassCount> allpassLength_{};
  std::array<std::int32_t, kAllpassCount> allpassPos_{};
  std::array<float, kCombCount> combStore_{};
};

}  // namespace vorlund
