#include "chain/fast_math.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
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

}  // namespace
}  // namespace vorlund
