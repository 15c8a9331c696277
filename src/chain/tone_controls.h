// Layer: signal
// The three one-knob tone filters after the parametric bands: a low shelf at 220 Hz, a
// presence peak at 3200 Hz and an air shelf at 10 kHz. Each knob runs -1..1. All three are
// designed on every configure; only those whose knob is off centre are in the signal path.
#pragma once

#include "chain/biquad.h"

namespace vorlund {

class ToneControls {
 public:
  static constexpr int kFilterCount = 3;

  // Configuration thread: notes the rate the filters are designed for.
  void prepare(double sampleRate) noexcept { sampleRate_ = sampleRate; }
  // Real-time thread or configuration thread, after prepare; redesigns all three, keeps their
  // state.
  void configure(float low, float presence, float air) noexcept;
  float process(float x) noexcept {
    if (lowActive_) x = lowShelf_.process(x);
    if (presenceActive_) x = presence_.process(x);
    if (airActive_) x = air_.process(x);
    return x;
  }
  // Writes the filters process() runs, in order, to `out`; returns how many (at most 3).
  int activeSections(BiquadSection** out) noexcept {
    int count = 0;
    if (lowActive_) out[count++] = &lowShelf_;
    if (presenceActive_) out[count++] = &presence_;
    if (airActive_) out[count++] = &air_;
    return count;
  }
  void reset() noexcept {
    lowShelf_.reset();
    presence_.reset();
    air_.reset();
  }

 private:
  BiquadSection lowShelf_{};
  BiquadSection presence_{};
  BiquadSection air_{};
  bool lowActive_ = false;
  bool presenceActive_ = false;
  bool airActive_ = false;
  double sampleRate_ = 48000.0;
};

}  // namespace vorlund
