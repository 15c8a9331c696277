// Layer: signal
// Switchable Butterworth high-pass: one section (12 dB per octave) or two (24 dB per octave).
// Switching the order keeps the second section's state for when it comes back.
#pragma once

#include <array>

#include "chain/biquad.h"

namespace vorlund {

class HighPassFilter {
 public:
  struct Settings {
    bool enabled{};
    float cornerHz{};
    int order{};
  };

  // Configuration thread: notes the rate the sections are designed for.
  void prepare(double sampleRate) noexcept { sampleRate_ = sampleRate; }
  // Real-time or configuration thread, after prepare: designs the sections in use; state is
  // kept.
  void configure(const Settings& settings) noexcept;
  float process(float x) noexcept {
    for (int i = 0; i < count_; ++i) x = sections_[i].process(x);
    return x;
  }
  void reset() noexcept {
    for (BiquadSection& s : sections_) s.reset();
  }
  int sectionCount() const noexcept { return count_; }
  // Writes the sections in use, in processing order, to `out`; returns how many.
  int activeSections(BiquadSection** out) noexcept {
    for (int i = 0; i < count_; ++i) out[i] = &sections_[i];
    return count_;
  }
  const BiquadSection& section(int i) const noexcept { return sections_[i]; }

 private:
  std::array<BiquadSection, 2> sections_{};
  int count_ = 0;
  double sampleRate_ = 48000.0;
};

}  // namespace vorlund
