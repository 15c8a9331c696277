// Level conversions as every stage of the chain does them, in float: dB to linear amplitude
// (10^(dB/20)) and mean square to dB.
#pragma once

#include "chain/fast_math.h"

namespace vorlund {

// ln(10)/20 as the chain has always used it (one float step below the nearest float).
constexpr float kDbToNeper = 0.11512925f;

inline float dbToGain(float db) noexcept {
  return fastExp(db * kDbToNeper);
}
inline Lanes dbToGain(Lanes db) noexcept {
  return fastExp(db * kDbToNeper);
}

// Level of a mean square in dB; anything at or below 1e-20 (-200 dB) reads as -200.
inline float meanSquareToDb(float meanSquare) noexcept {
  constexpr float kFloor = 1e-20f;
  constexpr float kFloorDb = -200.0f;
  return meanSquare > kFloor ? 10.0f * fastLog10(meanSquare) : kFloorDb;
}

}  // namespace vorlund
