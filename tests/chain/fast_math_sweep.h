// Sweeps of the chain's own float maths against the platform's double functions, shared by
// the unit test (a strided sweep) and the exhaustive check (every float of each range).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "chain/fast_math.h"

namespace vorlund::test {

struct SweepResult {
  std::string name;
  float low = 0.0f, high = 0.0f;
  std::uint64_t count = 0;
  std::uint64_t exact = 0;     // equal to the double reference rounded to float
  std::int64_t worstUlps = 0;  // largest distance from it, in units in the last place
  float worstAt = 0.0f;
  std::uint64_t laneMismatches = 0;  // four-lane results that differ from the single-float one
};

// Position of a float on the line of all floats, so that neighbours differ by 1.
inline std::int64_t floatOrdinal(float f) {
  std::int32_t i;
  std::memcpy(&i, &f, sizeof i);
  return i < 0 ? -static_cast<std::int64_t>(i & 0x7fffffff) : i;
}

// Every `stride`-th float of [low, high], and `high` itself.
template <typename Fast, typename Reference>
SweepResult sweepFloats(const char* name, float low, float high, std::uint32_t stride, Fast fast,
                        Reference reference) {
  SweepResult r{name, low, high};
  const auto check = [&](float x) {
    const Lanes lanes = fast(Lanes{x, -0.0f, x, 1.0f});
    const float got = fast(x);
    const float want = static_cast<float>(reference(static_cast<double>(x)));
    const bool bothNan = std::isnan(got) && std::isnan(want);
    const std::int64_t ulps = bothNan ? 0 : std::llabs(floatOrdinal(got) - floatOrdinal(want));
    if (std::memcmp(&lanes[0], &got, sizeof got) != 0 ||
        std::memcmp(&lanes[2], &got, sizeof got) != 0)
      ++r.laneMismatches;
    if (ulps == 0) ++r.exact;
    if (ulps > r.worstUlps) {
      r.worstUlps = ulps;
      r.worstAt = x;
    }
    ++r.count;
  };
  const std::int64_t first = floatOrdinal(low), last = floatOrdinal(high);
  for (std::int64_t o = first; o < last; o += stride) {
    const std::int32_t bits =
        o < 0 ? static_cast<std::int32_t>(0x80000000u | static_cast<std::uint32_t>(-o))
              : static_cast<std::int32_t>(o);
    float x;
    std::memcpy(&x, &bits, sizeof x);
    check(x);
  }
  check(high);
  return r;
}

// Each function over the range its callers can reach: exp wherever its float result is
// neither 0 nor infinite (dB conversions, presence probabilities), 2^x over the pitch-shift
// ratios and beyond, log10 over every positive normal float (levels, ratios, mean squares),
// tanh until it is 1 in float (the saturators' drive), sin over oscillator and window phases.
inline std::vector<SweepResult> sweepAll(std::uint32_t stride) {
  const auto fastExp_ = [](auto x) { return fastExp(x); };
  const auto fastExp2_ = [](auto x) { return fastExp2(x); };
  const auto fastLog10_ = [](auto x) { return fastLog10(x); };
  const auto fastTanh_ = [](auto x) { return fastTanh(x); };
  const auto fastSin_ = [](auto x) { return fastSin(x); };
  return {
      sweepFloats("exp", -104.0f, 89.0f, stride, fastExp_, [](double x) { return std::exp(x); }),
      sweepFloats("exp2", -8.0f, 8.0f, stride, fastExp2_, [](double x) { return std::exp2(x); }),
      sweepFloats("log10", 1.17549435e-38f, 3.40282347e38f, stride, fastLog10_,
                  [](double x) { return std::log10(x); }),
      sweepFloats("tanh", -20.0f, 20.0f, stride, fastTanh_, [](double x) { return std::tanh(x); }),
      sweepFloats("sin", -8.0f, 8.0f, stride, fastSin_, [](double x) { return std::sin(x); }),
  };
}

}  // namespace vorlund::test
