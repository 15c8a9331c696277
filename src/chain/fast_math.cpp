// Layer: signal
#include "chain/fast_math.h"

namespace vorlund {
namespace {

using fast_math_detail::bitsAs;
using fast_math_detail::kRoundingShifter;

// Sum of coefficient[i] x^i by Horner's rule, highest term first in the list's last place.
template <int N>
double polynomial(const double (&coefficient)[N], double x) noexcept {
  double p = coefficient[N - 1];
  for (int i = N - 2; i >= 0; --i) p = p * x + coefficient[i];
  return p;
}

// 1/n! for n = 0..14: e^r for |r| <= ln2/2 to well below a double's rounding.
constexpr double kExpSeries[] = {1.0,
                                 1.0,
                                 1.0 / 2,
                                 1.0 / 6,
                                 1.0 / 24,
                                 1.0 / 120,
                                 1.0 / 720,
                                 1.0 / 5040,
                                 1.0 / 40320,
                                 1.0 / 362880,
                                 1.0 / 3628800,
                                 1.0 / 39916800,
                                 1.0 / 479001600,
                                 1.0 / 6227020800,
                                 1.0 / 87178291200};

// (-1)^i / (2i+1)! and (-1)^i / (2i)!, i = 0..12: sin and cos series for |r| <= pi/4.
constexpr double kSinSeries[] = {1.0,
                                 -1.0 / 6,
                                 1.0 / 120,
                                 -1.0 / 5040,
                                 1.0 / 362880,
                                 -1.0 / 39916800,
                                 1.0 / 6227020800,
                                 -1.0 / 1307674368000,
                                 1.0 / 355687428096000,
                                 -1.0 / 121645100408832000,
                                 1.0 / 51090942171709440000.0,
                                 -1.0 / 25852016738884976640000.0};
constexpr double kCosSeries[] = {1.0,
                                 -1.0 / 2,
                                 1.0 / 24,
                                 -1.0 / 720,
                                 1.0 / 40320,
                                 -1.0 / 3628800,
                                 1.0 / 479001600,
                                 -1.0 / 87178291200,
                                 1.0 / 20922789888000,
                                 -1.0 / 6402373705728000,
                                 1.0 / 2432902008176640000.0,
                                 -1.0 / 1124000727777607680000.0};

// sin x for quadrant offset 0, cos x for 1: x = k pi/2 + r, then the series of r picked and
// signed by (k + offset) mod 4. pi/2 in three 33-bit parts and a tail, so each k x part is
// exact for |k| < 2^20 and r keeps its relative accuracy next to the zeros.
double sinOrCos(double x, unsigned offset) noexcept {
  constexpr double kTwoOverPi = 0.63661977236758134308;
  constexpr double kHalfPi1 = 1.57079632673412561417e+00;
  constexpr double kHalfPi2 = 6.07710050630396597660e-11;
  constexpr double kHalfPi3 = 2.02226624871116645580e-21;
  constexpr double kHalfPi3Tail = 8.47842766036889956997e-32;
  const double shifted = x * kTwoOverPi + kRoundingShifter;
  const double k = shifted - kRoundingShifter;
  const double r = (((x - k * kHalfPi1) - k * kHalfPi2) - k * kHalfPi3) - k * kHalfPi3Tail;
  const double z = r * r;
  const unsigned quadrant = static_cast<unsigned>(bitsAs<std::uint64_t>(shifted)) + offset;
  const double v = (quadrant & 1u) ? polynomial(kCosSeries, z) : r * polynomial(kSinSeries, z);
  return (quadrant & 2u) ? -v : v;
}

// e^(x + tail) for a tail far below x's last place.
double expWithTail(double x, double tail) noexcept {
  constexpr double kLog2e = 1.4426950408889634;
  constexpr double kLn2High = 0.693147180369123816490;
  constexpr double kLn2Low = 1.90821492927058770002e-10;
  if (!(x > -746.0)) return x == x ? 0.0 : x;
  if (x > 710.0) return __builtin_huge_val();
  const double shifted = x * kLog2e + kRoundingShifter;
  const double n = shifted - kRoundingShifter;
  const double r = ((x - n * kLn2High) - n * kLn2Low) + tail;
  // 2^n in two factors, as n may lie beyond the exponent range of one.
  const auto whole = static_cast<std::int64_t>(n);
  const std::int64_t half = whole / 2;
  const double scale1 = bitsAs<double>(static_cast<std::uint64_t>(half + 1023) << 52);
  const double scale2 = bitsAs<double>(static_cast<std::uint64_t>(whole - half + 1023) << 52);
  return polynomial(kExpSeries, r) * scale1 * scale2;
}

struct Halves {
  double high, low;
};
// A double as the sum of two with 26 significant bits each (Veltkamp), whose products are exact.
Halves halves(double a) noexcept {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double c = kSplitter * a;
  const double high = c - (c - a);
  return {high, a - high};
}

}  // namespace

double designExp(double x) noexcept {
  return expWithTail(x, 0.0);
}

double designExp10(double x) noexcept {
  // x ln 10 as an unevaluated sum: the exact product with ln 10's leading double (Dekker's
  // product of halves) and the small terms.
  constexpr double kLn10 = 2.302585092994046;
  constexpr double kLn10Tail = -2.1707562233822494e-16;
  const double product = x * kLn10;
  const auto [xHigh, xLow] = halves(x);
  const auto [lnHigh, lnLow] = halves(kLn10);
  const double error = ((xHigh * lnHigh - product) + xHigh * lnLow + xLow * lnHigh) + xLow * lnLow;
  return expWithTail(product, error + x * kLn10Tail);
}

double designSin(double x) noexcept {
  return sinOrCos(x, 0);
}
double designCos(double x) noexcept {
  return sinOrCos(x, 1);
}

}  // namespace vorlund
