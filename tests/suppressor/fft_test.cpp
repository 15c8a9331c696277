#include "suppressor/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "reference/reference_fft.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

// Relative RMS error allowed against the exact transform. Each of the log2 N stages rounds
// every value in its complex multiply-add and carries the rounding of its twiddles, a few
// units of 2^-24 in the worst case; random roundings add in quadrature and measure about
// 0.6 sqrt(log2 N) units. One unit per stage, added linearly, keeps a wide margin over that
// and still fails a single twiddle that is off by 1e-6.
double tolerance(int n) {
  return std::max(1.0, std::log2(n)) * std::ldexp(1.0, -24);
}

// RMS of (got - want) over the RMS of want, for the first n complex entries.
double relativeError(const std::vector<float>& re, const std::vector<float>& im,
                     const std::vector<double>& wantRe, const std::vector<double>& wantIm, int n) {
  double error = 0.0, energy = 0.0;
  for (int m = 0; m < n; ++m) {
    error += std::pow(re[m] - wantRe[m], 2) + std::pow(im[m] - wantIm[m], 2);
    energy += wantRe[m] * wantRe[m] + wantIm[m] * wantIm[m];
  }
  return std::sqrt(error / energy);
}

// Verifies both directions against the definition computed in double, for every size in use
// and the short ones that take the edge paths, on three inputs: random complex values, a unit
// impulse (whose spectrum is flat, exactly) and a cosine of m cycles (N/2 in bins m and N - m
// only); that forward then inverse restores the input; and that nothing past N is written.
TEST(FftTest, AgreesWithDirectDftAndRoundTrips) {
  constexpr int kGuard = 4;
  constexpr float kGuardValue = 12345.0f;
  for (int n : {1, 2, 4, 8, 16, 256, 512, 1024, 2048}) {
    SCOPED_TRACE(n);
    Fft fft;
    fft.setup(n);
    std::vector<float> impulse(n, 0.0f), cosine(n), zeros(n, 0.0f);
    impulse[0] = 1.0f;
    const int m = n / 4 + 1;
    for (int i = 0; i < n; ++i)
      cosine[i] = static_cast<float>(std::cos(2.0 * std::numbers::pi * m * i / n));
    const std::vector<float> inputs[][2] = {
        {test::whiteNoise(n, 17u + n, 1.0f), test::whiteNoise(n, 18u + n, 1.0f)},
        {impulse, zeros},
        {cosine, zeros}};
    std::vector<double> cosines(n), sines(n);
    for (int j = 0; j < n; ++j) {
      cosines[j] = std::cos(2.0 * std::numbers::pi * j / n);
      sines[j] = std::sin(2.0 * std::numbers::pi * j / n);
    }
    for (const auto& input : inputs) {
      for (bool inverse : {false, true}) {
        const double sign = inverse ? 1.0 : -1.0;
        std::vector<double> wantRe(n, 0.0), wantIm(n, 0.0);
        for (int k = 0; k < n; ++k) {
          for (int t = 0; t < n; ++t) {
            const int j = (k * t) % n;
            const double c = cosines[j], s = sign * sines[j];
            wantRe[k] += input[0][t] * c - input[1][t] * s;
            wantIm[k] += input[0][t] * s + input[1][t] * c;
          }
          if (inverse) {
            wantRe[k] /= n;
            wantIm[k] /= n;
          }
        }
        std::vector<float> re = input[0], im = input[1];
        re.resize(n + kGuard, kGuardValue);
        im.resize(n + kGuard, kGuardValue);
        fft.transform(re.data(), im.data(), inverse);
        EXPECT_LT(relativeError(re, im, wantRe, wantIm, n), tolerance(n)) << inverse;
        if (&input == &inputs[1] && !inverse) {
          for (int k = 0; k < n; ++k) ASSERT_TRUE(re[k] == 1.0f && im[k] == 0.0f) << k;
        }
        fft.transform(re.data(), im.data(), !inverse);
        const std::vector<double> backRe(input[0].begin(), input[0].end());
        const std::vector<double> backIm(input[1].begin(), input[1].end());
        EXPECT_LT(relativeError(re, im, backRe, backIm, n), 2.0 * tolerance(n)) << inverse;
        for (int i = n; i < n + kGuard; ++i)
          ASSERT_TRUE(re[i] == kGuardValue && im[i] == kGuardValue);
      }
    }
  }
}

// Verifies that the vectorised complex transform performs exactly the scalar butterflies of
// the definition: bit-identical results to the plain transform, both directions, every size.
TEST(FftTest, ComplexTransformIsBitIdenticalToPlainButterflies) {
  for (int n : {1, 2, 4, 8, 16, 256, 512, 1024, 2048}) {
    SCOPED_TRACE(n);
    Fft fft;
    fft.setup(n);
    reference::ReferenceFft plain;
    plain.setup(n);
    for (bool inverse : {false, true}) {
      std::vector<float> re = test::whiteNoise(n, 31u + n, 1.0f);
      std::vector<float> im = test::whiteNoise(n, 32u + n, 1.0f);
      std::vector<float> wantRe = re, wantIm = im;
      fft.transform(re.data(), im.data(), inverse);
      plain.transform(wantRe.data(), wantIm.data(), inverse);
      for (int k = 0; k < n; ++k)
        ASSERT_TRUE(re[k] == wantRe[k] && im[k] == wantIm[k]) << inverse << " bin " << k;
    }
  }
}

// Verifies the real-input pair: forward gives bins 0..N/2 of the direct DFT of a real frame
// (real bins 0 and N/2, and a unit impulse's flat spectrum exactly), inverse turns the
// direct DFT's half spectrum back into the frame, the two in a row restore the input, and
// nothing past N is written.
TEST(FftTest, RealInputPairAgreesWithDirectDft) {
  constexpr int kGuard = 4;
  constexpr float kGuardValue = 12345.0f;
  for (int n : {2, 4, 8, 16, 32, 64, 256, 512, 1024, 2048}) {
    SCOPED_TRACE(n);
    Fft fft;
    fft.setup(n);
    const std::vector<float> frame = test::whiteNoise(n, 41u + n, 1.0f);
    std::vector<double> wantRe(n / 2 + 1, 0.0), wantIm(n / 2 + 1, 0.0);
    for (int k = 0; k <= n / 2; ++k) {
      for (int t = 0; t < n; ++t) {
        const double angle = -2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / n;
        wantRe[k] += frame[t] * std::cos(angle);
        wantIm[k] += frame[t] * std::sin(angle);
      }
    }

    std::vector<float> re = frame, im(n, 0.0f);
    re.resize(n + kGuard, kGuardValue);
    im.resize(n + kGuard, kGuardValue);
    fft.forwardReal(re.data(), im.data());
    EXPECT_LT(relativeError(re, im, wantRe, wantIm, n / 2 + 1), tolerance(n));
    EXPECT_TRUE(im[0] == 0.0f && im[n / 2] == 0.0f);

    // Back from the exact half spectrum, then the round trip from the forward result.
    std::vector<float> exactRe(n + kGuard, kGuardValue), exactIm(n + kGuard, kGuardValue);
    for (int k = 0; k <= n / 2; ++k) {
      exactRe[k] = static_cast<float>(wantRe[k]);
      exactIm[k] = static_cast<float>(wantIm[k]);
    }
    fft.inverseReal(exactRe.data(), exactIm.data());
    fft.inverseReal(re.data(), im.data());
    const std::vector<double> wantFrame(frame.begin(), frame.end());
    const std::vector<float> zeros(n, 0.0f);
    const std::vector<double> zeroIm(n, 0.0);
    EXPECT_LT(relativeError(exactRe, zeros, wantFrame, zeroIm, n), tolerance(n));
    EXPECT_LT(relativeError(re, zeros, wantFrame, zeroIm, n), 2.0 * tolerance(n));
    for (int i = n; i < n + kGuard; ++i) {
      ASSERT_TRUE(re[i] == kGuardValue && im[i] == kGuardValue);
      ASSERT_TRUE(exactRe[i] == kGuardValue && exactIm[i] == kGuardValue);
    }

    std::vector<float> impulse(n, 0.0f), impulseIm(n, 0.0f);
    impulse[0] = 1.0f;
    fft.forwardReal(impulse.data(), impulseIm.data());
    for (int k = 0; k <= n / 2; ++k) ASSERT_TRUE(impulse[k] == 1.0f && impulseIm[k] == 0.0f) << k;
  }
}

// Verifies the bit-reversal table: the documented entries for 256, and for every size a
// permutation that is its own inverse, sending 1 to N/2.
TEST(FftTest, BitReversalTable) {
  Fft fft;
  fft.setup(256);
  EXPECT_EQ(128, fft.bitReverse(1));
  EXPECT_EQ(255, fft.bitReverse(255));
  EXPECT_EQ(0b00110101, fft.bitReverse(0b10101100));
  for (int n : {2, 8, 512, 2048}) {
    fft.setup(n);
    EXPECT_EQ(n / 2, fft.bitReverse(1)) << n;
    std::vector<bool> seen(n, false);
    for (int j = 0; j < n; ++j) {
      const int r = fft.bitReverse(j);
      ASSERT_TRUE(r >= 0 && r < n && !seen[r] && fft.bitReverse(r) == j) << n << " " << j;
      seen[r] = true;
    }
  }
}

}  // namespace
}  // namespace vorlund
