// Layer: signal
// The numeric constants the signal code shares, each defined once, from <numbers>.
#pragma once

#include <numbers>

namespace vorlund {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr float kPiFloat = std::numbers::pi_v<float>;
constexpr float kTwoPiFloat = 2.0f * std::numbers::pi_v<float>;
// Q of a second-order Butterworth section: 1/sqrt(2), as the sections have always rounded it.
constexpr double kButterworthQ = 0.70710678;

static_assert(kTwoPi == 6.283185307179586 && kTwoPiFloat == 6.2831855f && kPiFloat == 3.1415927f);

}  // namespace vorlund
