// Layer: signal
// Two second-order sections that take their inputs at the same time, run side by side on two
// lanes, and the pair of one-pole followers of their envelopes. Each lane computes exactly what
// a BiquadSection and AttackRelease::follow compute, so packing changes no bit.
#pragma once

#include <cstdint>

#include "chain/biquad.h"

namespace vorlund {

using FloatPair = float __attribute__((vector_size(8)));

struct SectionPair {
  FloatPair b0{1.0f, 1.0f};
  FloatPair b1{};
  FloatPair b2{};
  FloatPair a1{};
  FloatPair a2{};
  FloatPair z1{};
  FloatPair z2{};

  FloatPair process(FloatPair x) noexcept {
    const FloatPair y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
  }
  // Takes the coefficients of `first` (lane 0) and `second` (lane 1); keeps the state.
  void setCoefficients(const BiquadSection& first, const BiquadSection& second) noexcept {
    b0 = FloatPair{first.b0, second.b0};
    b1 = FloatPair{first.b1, second.b1};
    b2 = FloatPair{first.b2, second.b2};
    a1 = FloatPair{first.a1, second.a1};
    a2 = FloatPair{first.a2, second.a2};
  }
  void reset() noexcept { z1 = z2 = FloatPair{}; }
  // Lane `lane` as a section of its own.
  BiquadSection section(int lane) const noexcept {
    return {b0[lane], b1[lane], b2[lane], a1[lane], a2[lane], z1[lane], z2[lane]};
  }
};

// std::fabs of each lane: the sign bit cleared.
inline FloatPair absPair(FloatPair v) noexcept {
  using Words = std::uint32_t __attribute__((vector_size(8)));
  return __builtin_bit_cast(FloatPair, __builtin_bit_cast(Words, v) & 0x7fffffffu);
}

// AttackRelease::follow on both lanes: attack where the target lies above the state.
inline FloatPair followPair(FloatPair state, FloatPair target,
                            const AttackRelease& coefficients) noexcept {
  const FloatPair attack{coefficients.attack, coefficients.attack};
  const FloatPair release{coefficients.release, coefficients.release};
  const FloatPair coefficient = target > state ? attack : release;
  return (state - target) * coefficient + target;
}

}  // namespace vorlund
