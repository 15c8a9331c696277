#include "chain/fast_math.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "chain/fast_math_sweep.h"

namespace vorlund {
namespace {

// A strided sweep over each function's range (the exhaustive one is fast_math_sweep): within
// 1 ulp of the double reference everywhere, almost always equal to it, and four lanes give the
// single float's bits.
TEST(FastMathTest, StridedSweepWithinOneUlpAndLanesAgree) {
  for (const auto& r : test::sweepAll(4099)) {
    SCOPED_TRACE(r.name);
    EXPECT_GT(r.count, 1000u);
    EXPECT_LE(r.worstUlps, 1) << "at " << r.worstAt;
    EXPECT_GT(static_cast<double>(r.exact), 0.999 * static_cast<double>(r.count));
    EXPECT_EQ(r.laneMismatches, 0u);
  }
}

// Zeros, denormals (zero under denormals-are-zero, as the block runs), arguments far out of
// range, infinities and NaN, in a single float and in lanes.
TEST(FastMathTest, EdgesUnderDenormalsAreZero) {
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040);  // flush-to-zero and denormals-are-zero
  constexpr float inf = std::numeric_limits<float>::infinity();
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  constexpr float denormal = 1e-40f;
  const auto both = [](auto f, float x) {
    const float one = f(x);
    const Lanes lanes = f(Lanes{x, x, x, x});
    EXPECT_EQ(std::memcmp(&one, &lanes[3], sizeof one), 0) << x;
    return one;
  };
  const auto exp = [](auto x) { return fastExp(x); };
  const auto log10 = [](auto x) { return fastLog10(x); };
  const auto tanh = [](auto x) { return fastTanh(x); };
  const auto sin = [](auto x) { return fastSin(x); };

  EXPECT_EQ(both(exp, 0.0f), 1.0f);
  EXPECT_EQ(both(exp, -0.0f), 1.0f);
  EXPECT_EQ(both(exp, denormal), 1.0f);
  EXPECT_EQ(both(exp, -104.0f), 0.0f);  // below the smallest normal: flushed
  EXPECT_EQ(both(exp, -1e30f), 0.0f);
  EXPECT_EQ(both(exp, -inf), 0.0f);
  EXPECT_EQ(both(exp, 89.0f), inf);
  EXPECT_EQ(both(exp, 1e30f), inf);
  EXPECT_EQ(both(exp, inf), inf);
  EXPECT_TRUE(std::isnan(both(exp, nan)));
  EXPECT_EQ(both(exp, 88.72f), std::exp(88.72f));  // the largest results stay finite

  EXPECT_EQ(both(log10, 0.0f), -inf);
  EXPECT_EQ(both(log10, -0.0f), -inf);
  EXPECT_EQ(both(log10, denormal), -inf);
  EXPECT_EQ(both(log10, 1.0f), 0.0f);
  EXPECT_EQ(both(log10, 1000.0f), 3.0f);
  EXPECT_EQ(both(log10, 1e-20f), -20.0f);
  EXPECT_EQ(both(log10, inf), inf);
  EXPECT_TRUE(std::isnan(both(log10, -1.0f)));
  EXPECT_TRUE(std::isnan(both(log10, -inf)));
  EXPECT_TRUE(std::isnan(both(log10, nan)));

  EXPECT_EQ(both(tanh, 0.0f), 0.0f);
  EXPECT_TRUE(std::signbit(both(tanh, -0.0f)));
  EXPECT_EQ(both(tanh, denormal), 0.0f);
  EXPECT_EQ(both(tanh, 1e-30f), 1e-30f);  // tanh x = x for tiny x
  EXPECT_EQ(both(tanh, 1e30f), 1.0f);
  EXPECT_EQ(both(tanh, -inf), -1.0f);
  EXPECT_TRUE(std::isnan(both(tanh, nan)));

  EXPECT_EQ(both(sin, 0.0f), 0.0f);
  EXPECT_EQ(both(sin, denormal), 0.0f);
  EXPECT_EQ(both(sin, 1e-30f), 1e-30f);
  EXPECT_EQ(both(sin, 1.5707964f), 1.0f);
  EXPECT_TRUE(std::isnan(both(sin, nan)));
  EXPECT_TRUE(std::isnan(both(sin, inf)));
  _mm_setcsr(saved);
}

// The designers' functions over the angles and exponents they are given: within two units in
// the last place of a double of the platform's, and the small values next to the zeros of sin
// and cos (cos of pi/2 is the distance from pi/2 to its double) kept to full accuracy.
TEST(FastMathTest, DesignFunctionsTrackTheDoubleLibrary) {
  const auto ulps = [](double a, double b) {
    std::int64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return static_cast<std::int64_t>(std::llabs(x - y));
  };
  std::int64_t worstTrig = 0, worstExp = 0;
  for (int i = -50000; i <= 50000; ++i) {
    const double angle = i * 1.2345e-4;  // about -2 pi .. 2 pi
    worstTrig = std::max({worstTrig, ulps(designSin(angle), std::sin(angle)),
                          ulps(designCos(angle), std::cos(angle))});
    const double e = i * 0.014;  // -700 .. 700
    worstExp = std::max({worstExp, ulps(designExp(e), std::exp(e)),
                         ulps(designExp10(e / 2.302585), std::pow(10.0, e / 2.302585))});
  }
  EXPECT_LE(worstTrig, 2);
  EXPECT_LE(worstExp, 2);
  constexpr double kHalfPi = 1.5707963267948966;
  EXPECT_EQ(designCos(kHalfPi), 6.123233995736766e-17);
  EXPECT_EQ(designSin(2.0 * kHalfPi), 1.2246467991473532e-16);
  EXPECT_EQ(designCos(0.0), 1.0);
  EXPECT_EQ(designExp10(0.0), 1.0);
  EXPECT_EQ(designExp(-1000.0), 0.0);
}

}  // namespace
}  // namespace vorlund
