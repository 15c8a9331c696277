// Layer: signal
// Noise gate: lowers the voice by a fixed range while it is silent. It follows the envelope of
// its own input, opens above an open threshold, stays open for a hold time after the envelope
// last exceeded it, and closes only below a close threshold 4 dB lower, so a level between the
// two never makes it chatter. The state machine also runs while disabled, so switching the gate
// on acts at once on the right state.
#pragma once

#include <cmath>

#include "chain/biquad.h"

namespace vorlund {

class NoiseGate {
 public:
  // The close threshold sits this far below the open threshold.
  static constexpr float kHysteresisDb = 4.0f;

  // Configuration thread; envelope constants and start values.
  void prepare(double sampleRate) noexcept;
  struct Settings {
    bool enabled{};
    float thresholdDb{};  // opens above it (until setAutoThreshold moves it)
    float rangeDb{};      // how far the closed gate turns the signal down
    float attackMs{};
    float holdMs{};
    float releaseMs{};
  };

  // Real-time thread; settings only, signal state kept.
  void configure(const Settings& settings) noexcept;
  // Real-time thread, once per block before process(): thresholds from the background level,
  // 8 dB above it and held within [-75, -25] dB. Runs whether or not the gate is enabled.
  void setAutoThreshold(float backgroundDb) noexcept;
  // Real-time thread.
  void reset() noexcept;

  // Real-time thread.
  float process(float x) noexcept {
    track(x);
    const float target = enabled_ && !open_ ? closedGain_ : 1.0f;
    gain_ = gainCoefficients_.follow(gain_, target);
    return x * gain_;
  }

  // True while the gate is off at a gain of exactly 1: its gain then follows 1 from 1, which
  // stays exactly 1, so processAtUnity() may stand in for process() for the whole block.
  bool atUnity() const noexcept { return !enabled_ && gain_ == 1.0f; }
  // Real-time thread: process() of a gate at unity, the envelope and state machine only.
  float processAtUnity(float x) noexcept {
    track(x);
    return x;
  }

  // Smoothed gain after the last sample, 1 when open.
  float gain() const noexcept { return gain_; }

 private:
  // The envelope and the state machine, which run whether or not the gate acts.
  void track(float x) noexcept {
    envelope_ = envelopeCoefficients_.follow(envelope_, std::fabs(x));
    if (envelope_ > openThreshold_) {
      holdCounter_ = holdSamples_;
      open_ = true;
    } else if (holdCounter_ > 0) {
      --holdCounter_;
    } else if (envelope_ < closeThreshold_) {
      open_ = false;
    }
  }
  void setThresholds(float openDb) noexcept;

  double sampleRate_ = 48000.0;
  AttackRelease envelopeCoefficients_;
  float envelope_ = 0.0f;
  bool enabled_ = false;
  bool open_ = true;
  float openThreshold_ = 0.0f;
  float closeThreshold_ = 0.0f;
  float closedGain_ = 1.0f;
  // Attack while the gain rises (opening), release while it falls (closing).
  AttackRelease gainCoefficients_;
  float gain_ = 1.0f;
  int holdCounter_ = 0;
  int holdSamples_ = 0;
};

}  // namespace vorlund
