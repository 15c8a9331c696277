// Layer: signal
// Bank of up to eight mains-hum notches at the base frequency and its harmonics, about 3 Hz
// wide. The bank is redesigned only when its settings change, and always keeps its state.
#pragma once

#include <array>

#include "chain/biquad.h"

namespace vorlund {

class HumFilter {
 public:
  static constexpr int kMaxSections = 8;

  struct Settings {
    bool enabled{};
    float baseHz{};  // mains frequency
    int harmonics{};
  };

  void prepare(double sampleRate) noexcept;
  // Redesigns only when a setting differs from the one the bank holds (NaN always differs).
  void configure(const Settings& settings) noexcept;
  float process(float x) noexcept {
    if (!enabled_) return x;
    for (int i = 0; i < sectionCount_; ++i) x = sections_[i].process(x);
    return x;
  }
  void reset() noexcept {
    for (BiquadSection& s : sections_) s.reset();
  }

  // Writes the sections process() runs, in order, to `out`; returns how many.
  int activeSections(BiquadSection** out) noexcept {
    if (!enabled_) return 0;
    for (int i = 0; i < sectionCount_; ++i) out[i] = &sections_[i];
    return sectionCount_;
  }

  bool enabled() const noexcept { return enabled_; }
  int sectionCount() const noexcept { return sectionCount_; }
  const BiquadSection& section(int i) const noexcept { return sections_[i]; }

 private:
  void design() noexcept;

  double sampleRate_ = 48000.0;
  bool enabled_ = false;
  float baseHz_ = 50.0f;
  int harmonics_ = 4;
  int sectionCount_ = 0;
  std::array<BiquadSection, kMaxSections> sections_{};
};

}  // namespace vorlund
