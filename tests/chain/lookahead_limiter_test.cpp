#include "chain/lookahead_limiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "chain/gain.h"
#include "reference/reference_stages.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

std::vector<float> run(LookaheadLimiter& limiter, const std::vector<float>& in) {
  std::vector<float> out = in;
  limiter.process(out.data(), static_cast<int>(out.size()));
  return out;
}

// Verifies the ceiling on hostile signals at +20 dBFS (sines low, mid and near Nyquist, a
// square wave, an impulse train, white noise, noise bursts): no output sample exceeds it, at
// any rate and ceiling. A steady loud sine leaves as a sine at the ceiling, not clipped flat
// (its RMS is the ceiling over root two): the gain does the work, not the final clamp.
TEST(LookaheadLimiterTest, NeverExceedsCeiling) {
  for (double rate : {8000.0, 44100.0, 96000.0}) {
    for (float ceilingDb : {0.0f, -1.0f, -12.0f}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, ceiling " << ceilingDb << " dB");
      const int n = static_cast<int>(rate / 2);
      std::vector<float> square(n), impulses(n, 0.01f), bursts = test::whiteNoise(n, 11, 10.0f);
      for (int i = 0; i < n; ++i) {
        square[i] = (i / 97) % 2 == 0 ? 10.0f : -10.0f;
        if (i % 37 == 0) impulses[i] = i % 74 == 0 ? 10.0f : -10.0f;
        if ((i / 500) % 2 == 1) bursts[i] *= 0.001f;
      }
      const float ceiling = dbToGain(ceilingDb);
      const std::vector<std::vector<float>> signals = {test::sine(1000.0, rate, n, 10.0),
                                                       test::sine(100.0, rate, n, 10.0),
                                                       test::sine(0.45 * rate, rate, n, 10.0),
                                                       test::whiteNoise(n, 7, 10.0f),
                                                       square,
                                                       impulses,
                                                       bursts};
      for (std::size_t s = 0; s < signals.size(); ++s) {
        SCOPED_TRACE(s);
        LookaheadLimiter limiter =
            test::prepared<LookaheadLimiter>(rate, {.enabled = true, .ceilingDb = ceilingDb});
        const std::vector<float> out = run(limiter, signals[s]);
        float peak = 0.0f;
        for (float y : out) peak = std::max(peak, std::fabs(y));
        EXPECT_LE(peak, ceiling);
        EXPECT_GT(peak, 0.99f * ceiling);
        if (s == 0) {
          EXPECT_NEAR(ceiling / std::sqrt(2.0), test::rms(out, n / 2), 0.003 * ceiling);
        }
      }
    }
  }
}

// Verifies the look-ahead on a full-scale impulse riding on a small constant: the window is 66
// samples at 44.1 kHz, 72 at 48 kHz and 8 below 6 kHz; the gain falls linearly over the window,
// the impulse leaves exactly at the ceiling L - 1 samples after it came in, the gain recovers
// with the 60 ms release, and each block minimum reads the gain of its own samples; after a
// reset the output repeats. Switched off, the limiter only delays, exactly and unclamped.
TEST(LookaheadLimiterTest, ImpulseLeavesAtCeilingAfterLookahead) {
  for (auto [rate, length] :
       {std::pair{44100.0, 66}, {48000.0, 72}, {5999.0, 8}, {1000.0, 8}, {8000.0, 12}}) {
    SCOPED_TRACE(rate);
    LookaheadLimiter limiter =
        test::prepared<LookaheadLimiter>(rate, {.enabled = true, .ceilingDb = -1.0f});
    EXPECT_EQ(length, limiter.lookaheadSamples());
    const float ceiling = dbToGain(-1.0f), carrier = 0.01f;
    const int at = 200;
    std::vector<float> in(at + static_cast<int>(rate), carrier);
    in[at] = 1.0f;
    const std::vector<float> out = run(limiter, in);
    for (int n = length - 1; n < at; ++n) ASSERT_EQ(carrier, out[n]) << n;
    for (int n = at; n < at + length - 1; ++n) {
      const float ramp = 1.0f - static_cast<float>(n - at + 1) * (1.0f - ceiling) / length;
      ASSERT_NEAR(carrier * ramp, out[n], 1e-7f) << n;
    }
    EXPECT_EQ(ceiling, out[at + length - 1]);
    const int release = at + length - 1 + static_cast<int>(std::lround(0.06 * rate));
    EXPECT_NEAR(1.0f - (1.0f - ceiling) / std::exp(1.0f), out[release] / carrier, 0.004f);
    EXPECT_EQ(ceiling, limiter.takeBlockMinGain());
    run(limiter, std::vector<float>(100, carrier));
    EXPECT_GT(limiter.takeBlockMinGain(), 0.999f);
    limiter.reset();
    EXPECT_EQ(out, run(limiter, in));

    limiter.configure({.enabled = false, .ceilingDb = -6.0f});
    limiter.reset();
    const std::vector<float> noise = test::whiteNoise(4000, 3, 10.0f);
    const std::vector<float> delayed = run(limiter, noise);
    for (int n = 0; n < 4000; ++n)
      ASSERT_EQ(n < length - 1 ? 0.0f : noise[n - length + 1], delayed[n]) << n;
    EXPECT_EQ(1.0f, limiter.takeBlockMinGain());
  }
}

// Verifies the periodic recomputation of the running sum: after 130,000 samples of limiting
// noise whose level jumps about (so the minima entering and leaving the sum differ widely and
// their differences round), a quiet stretch past sample 131,072 and then an impulse, the gain
// ramps down exactly as the true average of the window and the impulse leaves at the ceiling.
TEST(LookaheadLimiterTest, RecomputationKeepsAverageExact) {
  LookaheadLimiter limiter =
      test::prepared<LookaheadLimiter>(48000.0, {.enabled = true, .ceilingDb = -1.0f});
  std::vector<float> in = test::whiteNoise(180000, 5, 1.0f);
  const std::vector<float> levels = test::whiteNoise(180000 / 50, 9, 1.5f);
  for (int i = 0; i < 130000; ++i) in[i] *= std::pow(10.0f, 1.5f + levels[i / 50]);
  // Long enough for the 60 ms release to lift the gain above the first ramp step.
  for (int i = 130000; i < 180000; ++i) in[i] = 0.01f;
  in[175000] = 1.0f;
  const std::vector<float> out = run(limiter, in);
  const int length = limiter.lookaheadSamples();
  const float ceiling = dbToGain(-1.0f);
  for (int k = 1; k < length; ++k) {
    const double sum = length + k * static_cast<double>(ceiling - 1.0f);
    ASSERT_EQ(0.01f * static_cast<float>(sum / length), out[175000 + k - 1]) << k;
  }
  EXPECT_EQ(ceiling, out[175000 + length - 1]);
}

// Verifies the blocks that pass at rest (a plain delay and gain) against the plain per-sample
// limiter, bit for bit in samples and minimum gains: quiet stretches and peaks in blocks of every
// length, the limiter switched off and on and its ceiling moved between blocks (a sample taken in
// while it was off may lie above the new ceiling), past a recomputation of the running sum.
TEST(LookaheadLimiterTest, RestingBlocksMatchPlainLimiter) {
  LookaheadLimiter limiter;
  reference::ReferenceLimiter plain;
  limiter.prepare(48000.0);
  plain.prepare(48000.0);
  const std::vector<float> noise = test::whiteNoise(700000, 3, 0.5f);
  const std::vector<float> choices = test::whiteNoise(4000, 11, 1.0f);
  int restingBlocks = 0;
  std::size_t at = 0;
  for (int b = 0; at < noise.size(); ++b) {
    // A cycle of 400 blocks: limiting early on, then a quiet stretch long enough for a
    // recomputation of the sum and for the gain to settle at exactly 1, with the limiter off
    // across a loud block late in it.
    const int phase = b % 400;
    const float pick = std::fabs(choices[static_cast<std::size_t>(b) % choices.size()]);
    const bool enabled = phase < 350 || phase > 355;
    const float ceilingDb = phase == 10 || phase == 370 ? -20.0f : -1.0f;
    limiter.configure({.enabled = enabled, .ceilingDb = ceilingDb});
    plain.configure({.enabled = enabled, .ceilingDb = ceilingDb});
    const int count = std::min<int>(1 + static_cast<int>(pick * 900.0f), noise.size() - at);
    std::vector<float> block(noise.begin() + at, noise.begin() + at + count);
    if (phase == 0 || phase == 355) {
      for (float& x : block) x *= 3.0f;  // above the ceiling throughout
    } else if (phase == 20 || phase == 380) {
      block[count / 2] = 1.5f;  // one peak inside a quiet block
    }
    const std::vector<float> out = run(limiter, block);
    for (int i = 0; i < count; ++i) {
      const float expected = plain.process(block[i]);
      ASSERT_EQ(std::bit_cast<std::uint32_t>(expected), std::bit_cast<std::uint32_t>(out[i]))
          << "block " << b << " sample " << i;
    }
    const float minimum = limiter.takeBlockMinGain();
    ASSERT_EQ(plain.takeBlockMinGain(), minimum) << b;
    restingBlocks += minimum > 0.9999f;
    at += static_cast<std::size_t>(count);
  }
  EXPECT_GT(restingBlocks, 200);
}

}  // namespace
}  // namespace vorlund
