// dB to linear amplitude, as every stage of the chain converts it: 10^(dB/20) in float.
#pragma once

#include <cmath>

namespace vorlund {

// The float nearest ln(10)/20.
constexpr float kDbToNeper = 0.11512925f;

inline float dbToGain(float db) noexcept {
  return std::exp(db * kDbToNeper);
}

}  // namespace vorlund
