// Layer: signal
// The maths of the signal path: float exp, log10, tanh, sin and 2^x for the per-sample and
// per-bin passes, and double exp, 10^x, sin and cos for the designers, all of the chain's own
// making, so that every build runs the same operations and gives the same bits (the platforms'
// libraries differ in their last bits and, on Windows, in speed by an order of magnitude). Each
// float function takes a float or a vector of them (Lanes: four, or eight in the AVX2 build)
// and evaluates in double with plain vector arithmetic, then rounds once to float: the result is
// within 1 ulp of the correctly rounded one and almost always is it. No operation is fused or
// reassociated, so a lane gives exactly the single-float result. Under denormals-are-zero, as the
// block runs, denormal arguments are zero; log10 takes them as zero in any mode.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "chain/lanes.h"

namespace vorlund {
// In the lane set's namespace, like the lanes themselves (chain/lanes.h).
inline namespace VORLUND_LANE_SET {
namespace fast_math_detail {

using Doubles = double __attribute__((vector_size(16)));
using Words = std::uint64_t __attribute__((vector_size(16)));
using FloatPair = float __attribute__((vector_size(8)));
// Four doubles at once, for the eight lanes of the AVX2 build.
using Doubles4 = double __attribute__((vector_size(32)));
using Words4 = std::uint64_t __attribute__((vector_size(32)));

// Bits of a double or of two or four doubles, and back.
template <typename D>
using BitsOf = std::conditional_t<sizeof(D) == sizeof(double), std::uint64_t,
                                  std::conditional_t<sizeof(D) == 16, Words, Words4>>;

template <typename To, typename From>
inline To bitsAs(From v) noexcept {
  static_assert(sizeof(To) == sizeof(From));
  To out;
  std::memcpy(&out, &v, sizeof out);
  return out;
}

template <typename D>
inline D splat(double v) noexcept {
  if constexpr (sizeof(D) == sizeof(double)) {
    return v;
  } else if constexpr (sizeof(D) == 16) {
    return D{v, v};
  } else {
    return D{v, v, v, v};
  }
}

// Adding and subtracting 1.5 x 2^52 rounds a double below 2^51 to the nearest integer (ties to
// even), and leaves that integer in the low bits of the sum.
constexpr double kRoundingShifter = 6755399441055744.0;
constexpr double kLn2 = 0.6931471805599453;

// e^y = 2^n (1 + q), returning q = e^r - 1 for the reduced r and the scale 2^n. |y| <= 1100.
// The series to r^8 leaves a relative error below 6e-10 of q over |r| <= ln2 / 2, a hundredth
// of a float's unit in the last place.
template <typename D>
inline D expKernel(D y, D& scale) noexcept {
  constexpr double kLog2e = 1.4426950408889634;
  // ln 2 in two parts, the first with its low bits clear so that n x kLn2High is exact.
  constexpr double kLn2High = 0.693147180369123816490;
  constexpr double kLn2Low = 1.90821492927058770002e-10;
  const D shifted = y * kLog2e + kRoundingShifter;
  const D n = shifted - kRoundingShifter;
  const D r = (y - n * kLn2High) - n * kLn2Low;
  // 2^n from the integer in the shifted sum's low bits, moved into the exponent field.
  scale = bitsAs<D>((bitsAs<BitsOf<D>>(shifted) + 1023u) << 52);
  D p = r * (1.0 / 40320) + 1.0 / 5040;
  p = p * r + 1.0 / 720;
  p = p * r + 1.0 / 120;
  p = p * r + 1.0 / 24;
  p = p * r + 1.0 / 6;
  p = p * r + 0.5;
  p = p * r + 1.0;
  return p * r;
}

// Arguments held where every result has already settled: e^-150 and e^100 are 0 and inf in
// float. NaN passes both comparisons and stays NaN.
template <typename D>
inline D clampExpArgument(D y) noexcept {
  y = y < splat<D>(-150.0) ? splat<D>(-150.0) : y;
  return y > splat<D>(100.0) ? splat<D>(100.0) : y;
}

template <typename D>
inline D expD(D y) noexcept {
  D scale;
  const D q = expKernel(clampExpArgument(y), scale);
  return scale * q + scale;
}

template <typename D>
inline D log10D(D x, D exponent) noexcept {
  // log(m) = 2 atanh(s), s = (m - 1) / (m + 1), |s| <= 0.172: the series to s^13 leaves a
  // relative error below 2e-12.
  constexpr double kLog10e = 0.4342944819032518;
  const D f = x - 1.0;
  const D s = f / (f + 2.0);
  const D z = s * s;
  D p = z * (1.0 / 13) + 1.0 / 11;
  p = p * z + 1.0 / 9;
  p = p * z + 1.0 / 7;
  p = p * z + 1.0 / 5;
  p = p * z + 1.0 / 3;
  p = p * z + 1.0;
  return (exponent * kLn2 + (s + s) * p) * kLog10e;
}

template <typename D>
inline D tanhD(D x) noexcept {
  // tanh|x| = m / (m + 2) with m = e^(2|x|) - 1 = 2^n q + (2^n - 1), which keeps its relative
  // accuracy down to the smallest arguments. From 20 on tanh is 1 in float.
  const BitsOf<D> signBit = bitsAs<BitsOf<D>>(splat<D>(-0.0));
  const BitsOf<D> bits = bitsAs<BitsOf<D>>(x);
  D t = bitsAs<D>(bits & ~signBit);
  t = t > splat<D>(20.0) ? splat<D>(20.0) : t;
  D scale;
  const D q = expKernel(t + t, scale);
  const D m = scale * q + (scale - 1.0);
  return bitsAs<D>(bitsAs<BitsOf<D>>(m / (m + 2.0)) | (bits & signBit));
}

template <typename D>
inline D sinD(D x) noexcept {
  // x = k pi/2 + r with |r| <= pi/4; pi/2 in two parts, the first with 21 low bits clear so
  // that k x kHalfPiHigh is exact for |k| < 2^21.
  constexpr double kTwoOverPi = 0.6366197723675814;
  constexpr double kHalfPiHigh = 1.5707963267341256;
  constexpr double kHalfPiLow = 6.077100506506192e-11;
  const D shifted = x * kTwoOverPi + kRoundingShifter;
  const D k = shifted - kRoundingShifter;
  const D r = (x - k * kHalfPiHigh) - k * kHalfPiLow;
  const D z = r * r;
  // Series to r^13 and r^12: relative errors below 1e-11 over |r| <= pi/4.
  D s = z * (-1.0 / 6227020800) + 1.0 / 39916800;
  s = s * z - 1.0 / 362880;
  s = s * z + 1.0 / 5040;
  s = s * z - 1.0 / 120;
  s = s * z + 1.0 / 6;
  s = r - (r * z) * s;
  D c = z * (1.0 / 479001600) - 1.0 / 3628800;
  c = c * z + 1.0 / 40320;
  c = c * z - 1.0 / 720;
  c = c * z + 1.0 / 24;
  c = c * z - 0.5;
  c = c * z + 1.0;
  // Quadrant k mod 4: sin r, cos r, -sin r, -cos r.
  const BitsOf<D> quadrant = bitsAs<BitsOf<D>>(shifted);
  const BitsOf<D> zero{};
  D v = (quadrant & 1u) != zero ? c : s;
  return bitsAs<D>(bitsAs<BitsOf<D>>(v) ^ ((quadrant & 2u) << 62));
}

// Calls f on the argument in double and rounds the result to float; four floats go as two
// pairs of doubles, eight as two quadruples.
template <typename T, typename F>
inline T inDouble(T x, F f) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return static_cast<float>(f(static_cast<double>(x)));
  } else if constexpr (sizeof(T) == 32) {
    const Doubles4 low =
        f(__builtin_convertvector(__builtin_shufflevector(x, x, 0, 1, 2, 3), Doubles4));
    const Doubles4 high =
        f(__builtin_convertvector(__builtin_shufflevector(x, x, 4, 5, 6, 7), Doubles4));
    const Quad a = __builtin_convertvector(low, Quad);
    const Quad b = __builtin_convertvector(high, Quad);
    return __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
  } else {
    const Doubles low = f(__builtin_convertvector(__builtin_shufflevector(x, x, 0, 1), Doubles));
    const Doubles high = f(__builtin_convertvector(__builtin_shufflevector(x, x, 2, 3), Doubles));
    const FloatPair a = __builtin_convertvector(low, FloatPair);
    const FloatPair b = __builtin_convertvector(high, FloatPair);
    return __builtin_shufflevector(a, b, 0, 1, 2, 3);
  }
}

}  // namespace fast_math_detail

// e^x.
template <typename T>
inline T fastExp(T x) noexcept {
  return fast_math_detail::inDouble(x, [](auto d) { return fast_math_detail::expD(d); });
}

// tanh x.
template <typename T>
inline T fastTanh(T x) noexcept {
  return fast_math_detail::inDouble(x, [](auto d) { return fast_math_detail::tanhD(d); });
}

// 2^x.
template <typename T>
inline T fastExp2(T x) noexcept {
  return fast_math_detail::inDouble(
      x, [](auto d) { return fast_math_detail::expD(d * fast_math_detail::kLn2); });
}

// sin x for the phases of oscillators and windows, |x| < 2^20 (beyond, the reduction is no
// longer exact).
template <typename T>
inline T fastSin(T x) noexcept {
  return fast_math_detail::inDouble(x, [](auto d) { return fast_math_detail::sinD(d); });
}

// log10 x: -inf at 0 (and at denormals, which count as 0), NaN below 0 and for NaN, inf at inf.
template <typename T>
inline T fastLog10(T x) noexcept {
  using namespace fast_math_detail;
  // x = 2^e m with m in [sqrt(1/2), sqrt(2)), taken apart on the float's bits.
  constexpr std::uint32_t kSqrtHalfBits = 0x3f3504f3;
  constexpr float kSmallestNormal = 1.17549435e-38f;
  constexpr float kInfinity = __builtin_huge_valf();
  constexpr float kNan = __builtin_nanf("");
  if constexpr (sizeof(T) == sizeof(float)) {
    const std::uint32_t bits = bitsAs<std::uint32_t>(x);
    const std::int32_t e = static_cast<std::int32_t>(bits - kSqrtHalfBits) >> 23;
    const float m = bitsAs<float>(bits - (static_cast<std::uint32_t>(e) << 23));
    const float y = static_cast<float>(log10D(static_cast<double>(m), static_cast<double>(e)));
    if (x == kInfinity) return x;
    if (!(x >= kSmallestNormal)) return x >= 0.0f ? -kInfinity : kNan;
    return y;
  } else {
    // Four lanes go as two pairs of doubles, eight as two quadruples (as inDouble does).
    constexpr bool kWide = sizeof(T) == 32;
    using Ints4 = std::int32_t __attribute__((vector_size(16)));
    using Ints8 = std::int32_t __attribute__((vector_size(32)));
    using Unsigned4 = std::uint32_t __attribute__((vector_size(16)));
    using Unsigned8 = std::uint32_t __attribute__((vector_size(32)));
    using IntPair = std::int32_t __attribute__((vector_size(8)));
    using Ints = std::conditional_t<kWide, Ints8, Ints4>;
    using Words32 = std::conditional_t<kWide, Unsigned8, Unsigned4>;
    using HalfInts = std::conditional_t<kWide, Ints4, IntPair>;
    using HalfFloats = std::conditional_t<kWide, Quad, FloatPair>;
    using HalfDoubles = std::conditional_t<kWide, Doubles4, Doubles>;
    // Unsigned arithmetic on the bits (negative arguments wrap), an arithmetic shift for e.
    const Words32 bits = bitsAs<Words32>(x);
    const Ints e = bitsAs<Ints>(bits - kSqrtHalfBits) >> 23;
    const T m = bitsAs<T>(bits - (bitsAs<Words32>(e) << 23));
    const auto half = [&](HalfFloats mantissa, HalfInts exponent) {
      return __builtin_convertvector(log10D(__builtin_convertvector(mantissa, HalfDoubles),
                                            __builtin_convertvector(exponent, HalfDoubles)),
                                     HalfFloats);
    };
    T y;
    if constexpr (kWide) {
      const HalfFloats low = half(__builtin_shufflevector(m, m, 0, 1, 2, 3),
                                  __builtin_shufflevector(e, e, 0, 1, 2, 3));
      const HalfFloats high = half(__builtin_shufflevector(m, m, 4, 5, 6, 7),
                                   __builtin_shufflevector(e, e, 4, 5, 6, 7));
      y = __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
    } else {
      const HalfFloats low =
          half(__builtin_shufflevector(m, m, 0, 1), __builtin_shufflevector(e, e, 0, 1));
      const HalfFloats high =
          half(__builtin_shufflevector(m, m, 2, 3), __builtin_shufflevector(e, e, 2, 3));
      y = __builtin_shufflevector(low, high, 0, 1, 2, 3);
    }
    const T infinity = broadcast<T>(kInfinity);
    y = x == infinity ? infinity : y;
    const T edge = x >= broadcast<T>(0.0f) ? -infinity : broadcast<T>(kNan);
    return x >= broadcast<T>(kSmallestNormal) ? y : edge;
  }
}

}  // namespace VORLUND_LANE_SET

// The designers' double functions, within a few units in the last place of a double. sin and
// cos reduce exactly for |x| < 2^19, far beyond any angle a designer forms.
double designExp(double x) noexcept;
double designExp10(double x) noexcept;
double designSin(double x) noexcept;
double designCos(double x) noexcept;

}  // namespace vorlund
