// Layer: signal
// The user's tone shaping: ten parametric bands of any designer type, then the tone controls.
// Only bands that change the signal run: a disabled band, or a peaking or shelving band with
// less than 0.05 dB of gain, keeps its coefficients and state but costs nothing.
#pragma once

#include <array>

#include "chain/biquad.h"
#include "chain/tone_controls.h"
#include "engine/parameter_block.h"

namespace vorlund {

class Equalizer {
 public:
  static constexpr int kBandCount = ParameterBlock::kBandCount;
  static constexpr int kMaxSections = kBandCount + ToneControls::kFilterCount;

  struct Settings {
    std::array<EqBand, kBandCount> bands{};
    // Tone controls, -1..1 each.
    float toneLow{};
    float tonePresence{};
    float toneAir{};
  };

  // Configuration thread: notes the rate the bands and tone filters are designed for.
  void prepare(double sampleRate) noexcept {
    sampleRate_ = sampleRate;
    tone_.prepare(sampleRate);
  }
  // Real-time thread or configuration thread, after prepare; designs the active bands and all
  // tone filters, keeps every state.
  void configure(const Settings& settings) noexcept;
  float process(float x) noexcept {
    for (int j = 0; j < activeCount_; ++j) x = bandSections_[activeBands_[j]].process(x);
    return tone_.process(x);
  }
  // Writes the sections process() runs, in order (active bands, then tone filters), to `out`;
  // returns how many, at most kMaxSections.
  int activeSections(BiquadSection** out) noexcept {
    for (int j = 0; j < activeCount_; ++j) out[j] = &bandSections_[activeBands_[j]];
    return activeCount_ + tone_.activeSections(out + activeCount_);
  }
  void reset() noexcept {
    for (BiquadSection& s : bandSections_) s.reset();
    tone_.reset();
  }

 private:
  std::array<BiquadSection, kBandCount> bandSections_{};
  std::array<int, kBandCount> activeBands_{};  // band numbers, ascending
  int activeCount_ = 0;
  ToneControls tone_{};
  double sampleRate_ = 48000.0;
};

}  // namespace vorlund
