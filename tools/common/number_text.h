// Numbers as people read them: never an exponent, and fixed decimals never "-0.0" for a value
// that rounds to zero.
#pragma once

#include <string>

namespace vorlund {

// `value` with `decimals` digits after the point ("-2.5", "0.0", "inf", "-inf", "nan").
std::string fixedText(double value, int decimals);

// The shortest decimal that reads back as `value` bit for bit, without an exponent
// ("0.000025", "48000", "-0").
std::string shortestText(float value);

}  // namespace vorlund
