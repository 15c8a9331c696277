// Layer: signal
// Level conversions, in float, as the chain's stages and the meter publisher make them: dB to
// linear amplitude (10^(dB/20)), amplitude to dB (20·log10) and mean square (power) to dB
// (10·log10), all through the chain's own maths so every build gives the same bits. Levels at
// or below the silence thresholds, a gain of zero and NaN all read as
// kSilenceDb.
#pragma once

#include "chain/fast_math.h"

namespace vorlund {

// ln(10)/20 as the chain has always used it (one float step below the nearest float).
constexpr float kDbToNeper = 0.11512925f;
constexpr float kSilenceDb = -200.0f;
// The silence thresholds: 1e-10 in amplitude and 1e-20 in power, both -200 dB.
constexpr float kSilentAmplitude = 1e-10f;
constexpr float kSilentMeanSquare = 1e-20f;

inline float dbToGain(float db) noexcept {
  return fastExp(db * kDbToNeper);
}
inline Lanes dbToGain(Lanes db) noexcept {
  return fastExp(db * kDbToNeper);
}

inline float amplitudeToDb(float amplitude) noexcept {
  return amplitude > kSilentAmplitude ? 20.0f * fastLog10(amplitude) : kSilenceDb;
}

inline float meanSquareToDb(float meanSquare) noexcept {
  return meanSquare > kSilentMeanSquare ? 10.0f * fastLog10(meanSquare) : kSilenceDb;
}

}  // namespace vorlund
