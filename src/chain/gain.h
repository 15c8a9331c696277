// dB to linear amplitude, as every stage of the chain converts it: 10^(dB/20) in float.
#pragma once

#include <cmath>

namespace vorlund {

// ln(10)/20 as the chain has always used it (one float step below the nearest float).
constexpr float kDbToNeper = 0.11512925f;

inline float dbToGain(float db) noexcept {
  return std::exp(db * kDbToNeper);
}

}  // namespace vorlund
