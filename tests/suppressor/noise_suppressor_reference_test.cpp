// The restructured noise suppressor against its straightforward form (tests/reference): bit for
// bit with the same real-input transform, and within float rounding of the definition's
// complex transform.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "reference/reference_noise_suppressor.h"
#include "signal_helpers.h"
#include "suppressor/noise_suppressor.h"

namespace vorlund {
namespace {

// Runs a suppressor over the signal with the settings changing every two seconds (off, the
// defaults, the deepest floor, the weakest and the strongest over-subtraction), a relearn
// request and a reset in between; returns the output and the meter after every 480 samples.
template <typename Suppressor>
std::vector<float> run(Suppressor& s, double rate, const std::vector<float>& input,
                       std::vector<float>& meters) {
  const NoiseSuppressor::Settings settings[] = {
      {true, 18.0f, 0.5f}, {false, 18.0f, 0.5f}, {true, 60.0f, 1.0f}, {true, 3.0f, 0.0f}};
  const auto scene = static_cast<std::size_t>(2.0 * rate);
  std::vector<float> out(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (i % scene == 0) {
      const NoiseSuppressor::Settings& setting = settings[(i / scene) % std::size(settings)];
      s.configure(setting);
    }
    if (i == input.size() / 3) s.setFrameCount(0);
    if (i == input.size() / 2) s.reset();
    out[i] = s.processSample(input[i]);
    if (i % 480 == 479) meters.push_back(s.suppressionDb());
  }
  return out;
}

// Verifies that the vectorised bin passes compute exactly what the straightforward per-bin
// loop computes (noise estimate, minimum tracking over all ring slots, presence, gains, their
// smoothing and the meter), bit for bit on every output sample, at every frame size, over
// input long enough for the minimum ring to wrap.
TEST(NoiseSuppressorReferenceTest, BinPassesMatchStraightforwardLoopBitForBit) {
  const struct {
    double rate;
    double seconds;
  } cases[] = {{8000.0, 14.0}, {48000.0, 12.0}, {96000.0, 3.0}, {384000.0, 1.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const std::vector<float> input = test::variedSignal(c.rate, c.seconds, 11u);
    NoiseSuppressor fast;
    reference::ReferenceNoiseSuppressor<reference::RealInputTransform> plain;
    fast.prepare(c.rate);
    plain.prepare(c.rate);
    std::vector<float> fastMeters, plainMeters;
    const std::vector<float> a = run(fast, c.rate, input, fastMeters);
    const std::vector<float> b = run(plain, c.rate, input, plainMeters);
    for (std::size_t i = 0; i < a.size(); ++i)
      ASSERT_EQ(std::bit_cast<std::uint32_t>(b[i]), std::bit_cast<std::uint32_t>(a[i]))
          << "sample " << i << ": " << a[i] << " vs " << b[i];
    for (std::size_t i = 0; i < fastMeters.size(); ++i)
      ASSERT_EQ(std::bit_cast<std::uint32_t>(plainMeters[i]),
                std::bit_cast<std::uint32_t>(fastMeters[i]))
          << "meter " << i;
  }
}

// Verifies that the suppressor with the real-input transform pair follows the definition (the
// plain complex transform forward and back over all N bins) within float rounding: the RMS
// difference of the outputs stays within 16 units of 2^-24 of the signal (about 2 are
// measured), far below what any wrong bin, twiddle or scaling would leave, and the meters
// agree to 1e-4 dB.
TEST(NoiseSuppressorReferenceTest, FollowsComplexTransformDefinitionWithinRounding) {
  for (double rate : {16000.0, 48000.0, 192000.0}) {
    SCOPED_TRACE(rate);
    const std::vector<float> input = test::variedSignal(rate, 8.0, 12u);
    NoiseSuppressor fast;
    reference::ReferenceNoiseSuppressor<reference::ComplexTransform> definition;
    fast.prepare(rate);
    definition.prepare(rate);
    std::vector<float> fastMeters, definitionMeters;
    const std::vector<float> a = run(fast, rate, input, fastMeters);
    const std::vector<float> b = run(definition, rate, input, definitionMeters);
    double error = 0.0, energy = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      error += std::pow(static_cast<double>(a[i]) - b[i], 2);
      energy += static_cast<double>(b[i]) * b[i];
    }
    EXPECT_LT(std::sqrt(error / energy), 16.0 * std::ldexp(1.0, -24));
    for (std::size_t i = 0; i < fastMeters.size(); ++i)
      ASSERT_NEAR(definitionMeters[i], fastMeters[i], 1e-4) << "meter " << i;
  }
}

}  // namespace
}  // namespace vorlund
