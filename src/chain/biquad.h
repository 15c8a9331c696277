// Layer: signal
// Second-order sections, their designer (the audio-EQ cookbook forms with a lower Q limit
// and a frequency clamp) and the one-pole smoothing rule that every envelope and gain
// smoother of the chain uses. Designing runs in double and stores float; processing is float.
#pragma once

namespace vorlund {

enum class FilterType : int {
  Peaking = 0,
  LowShelf = 1,
  HighShelf = 2,
  LowPass = 3,
  HighPass = 4,
  Notch = 5,
  BandPass = 6,
  AllPass = 7,
};

// State magnitude past which a section has run away: 60 dB above the largest input sample. A
// section redesigned abruptly every block keeps a state that may grow without bound.
inline constexpr float kRunawayState = 1e6f;

// Transposed direct form II; coefficients are already divided by a0.
struct BiquadSection {
  float b0 = 1.0f;
  float b1 = 0.0f;
  float b2 = 0.0f;
  float a1 = 0.0f;
  float a2 = 0.0f;
  float z1 = 0.0f;
  float z2 = 0.0f;

  float process(float x) noexcept {
    const float y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
  }
  void reset() noexcept { z1 = z2 = 0.0f; }
  // False for a NaN, an infinity or a runaway state.
  bool stateIsSound() const noexcept {
    return z1 <= kRunawayState && z1 >= -kRunawayState && z2 <= kRunawayState &&
           z2 >= -kRunawayState;
  }
  void setIdentity() noexcept {
    b0 = 1.0f;
    b1 = b2 = a1 = a2 = 0.0f;
  }
};

// Writes b0..a2 of `section` and leaves its state alone, so a redesign does not click.
// A rate <= 0 or a type outside 0..7 designs the identity.
void designBiquad(BiquadSection& section, FilterType type, double sampleRate, double frequency,
                  double gainDb, double q) noexcept;
void designBiquad(BiquadSection& section, int type, double sampleRate, double frequency,
                  double gainDb, double q) noexcept;

// (float) exp(-1000 / (timeMs * sampleRate)); 0 (jump at once) when either is <= 0.
float smoothingCoefficient(double timeMs, double sampleRate) noexcept;

// One-pole follower: state moves towards target by (1 - coefficient) of the gap per step.
inline float follow(float state, float target, float coefficient) noexcept {
  return (state - target) * coefficient + target;
}

// Attack and release coefficients of an envelope or gain smoother.
struct AttackRelease {
  float attack = 0.0f;
  float release = 0.0f;

  void set(double attackMs, double releaseMs, double sampleRate) noexcept {
    attack = smoothingCoefficient(attackMs, sampleRate);
    release = smoothingCoefficient(releaseMs, sampleRate);
  }
  // Attack while the target is above the state, release otherwise.
  float follow(float state, float target) const noexcept {
    return vorlund::follow(state, target, target > state ? attack : release);
  }
};

}  // namespace vorlund
