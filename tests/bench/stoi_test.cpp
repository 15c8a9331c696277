// The intelligibility measure against what it must say of known signals: the clean speech
// against itself (at any gain) is fully intelligible, and white noise added at falling
// signal-to-noise ratios makes it less so at every step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "stoi.h"

namespace vorlund::bench {
namespace {

TEST(StoiTest, CleanIsOneAndWhiteNoiseLowersItStepByStep) {
  constexpr double kRate = 48000.0;
  const std::vector<float> clean = speechLikeSignal(kRate, 12.0).speech;
  EXPECT_NEAR(1.0, stoi(clean, clean, kRate), 1e-9);
  std::vector<float> quieter = clean;
  for (float& x : quieter) x *= 0.25f;
  EXPECT_NEAR(1.0, stoi(clean, quieter, kRate), 1e-9) << "the measure ignores the overall gain";

  double speechPower = 0.0;
  for (float x : clean) speechPower += static_cast<double>(x) * x;
  speechPower /= static_cast<double>(clean.size());
  std::uint32_t state = 12345;
  std::vector<float> white(clean.size());
  double whitePower = 0.0;
  for (float& x : white) {
    state = state * 1664525u + 1013904223u;
    x = static_cast<float>(state / 4294967296.0 * 2.0 - 1.0);
    whitePower += static_cast<double>(x) * x;
  }
  whitePower /= static_cast<double>(white.size());
  double previous = 1.0;
  for (double snrDb : {20.0, 10.0, 5.0, 0.0, -5.0, -10.0}) {
    SCOPED_TRACE(snrDb);
    const auto gain =
        static_cast<float>(std::sqrt(speechPower / whitePower) * std::pow(10.0, -snrDb / 20.0));
    std::vector<float> noisy = clean;
    for (std::size_t i = 0; i < noisy.size(); ++i) noisy[i] += gain * white[i];
    const double value = stoi(clean, noisy, kRate);
    EXPECT_LT(value, previous);
    EXPECT_GT(value, 0.0);
    previous = value;
  }
  EXPECT_LT(previous, 0.75) << "speech at -10 dB under white noise is hard to follow";
}

}  // namespace
}  // namespace vorlund::bench
