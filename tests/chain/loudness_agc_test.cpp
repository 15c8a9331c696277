#include "chain/loudness_agc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "chain/gain.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

// Runs a 1 kHz sine of peak `amplitude` through the stage in blocks and returns the output.
std::vector<float> run(LoudnessAgc& agc, double rate, float amplitude, double seconds,
                       int block = 480, bool voice = true) {
  std::vector<float> x = test::sine(1000.0, rate, static_cast<int>(rate * seconds), amplitude);
  for (std::size_t pos = 0; pos < x.size(); pos += block)
    agc.process(x.data() + pos, static_cast<int>(std::min<std::size_t>(block, x.size() - pos)),
                voice);
  return x;
}

// Verifies the measure and the steering: a 1 kHz sine of peak 0.1 reads about -23.3 LU, so
// towards a -18 target the gain settles 5.3 dB up and the output level rises by exactly that;
// after a reset the same input gives the same output again.
TEST(LoudnessAgcTest, SteersSineToTargetLoudness) {
  for (double rate : {44100.0, 48000.0}) {
    SCOPED_TRACE(rate);
    auto agc = test::prepared<LoudnessAgc>(
        rate, {.enabled = true, .targetDb = -18, .maxGainDb = 12, .speed = 1.0f});
    const std::vector<float> first = run(agc, rate, 0.1f, 0.05);
    const std::vector<float> out = run(agc, rate, 0.1f, 5.0);
    EXPECT_NEAR(-23.3, -18.0f - agc.gainDb(), 0.05);
    const std::vector<float> in = test::sine(1000.0, rate, static_cast<int>(out.size()), 0.1f);
    const int tail = static_cast<int>(out.size() - rate / 2);
    EXPECT_NEAR(agc.gainDb(), test::toDb(test::rms(out, tail) / test::rms(in, tail)), 0.01);
    agc.reset();
    EXPECT_EQ(first, run(agc, rate, 0.1f, 0.05));
  }
}

// Verifies the rate limits: the gain rises by 1 + 9 x speed dB per second and falls twice as
// fast, whatever the block size; at the default speed a 10 ms block moves it at most 0.046 dB
// up and 0.092 dB down.
TEST(LoudnessAgcTest, GainMovesAtLimitedRate) {
  for (auto [rate, block] : {std::pair{48000.0, 480}, {44100.0, 128}, {16000.0, 1000}}) {
    for (float speed : {0.0f, 1.0f}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, block " << block << ", speed " << speed);
      const float perSecond = 1.0f + 9.0f * speed;
      auto agc = test::prepared<LoudnessAgc>(
          rate, {.enabled = true, .targetDb = -18, .maxGainDb = 30, .speed = speed});
      run(agc, rate, 0.01f, 0.5, block);  // -43 LU: 25 dB to go up
      float before = agc.gainDb();
      run(agc, rate, 0.01f, 1.0, block);
      EXPECT_NEAR(perSecond, agc.gainDb() - before, 0.01f * perSecond);
      agc.reset();
      agc.configure({.enabled = true, .targetDb = -30, .maxGainDb = 30, .speed = speed});
      run(agc, rate, 0.5f, 0.1, block);  // -9 LU: 21 dB to go down
      before = agc.gainDb();
      run(agc, rate, 0.5f, 0.4, block);
      EXPECT_NEAR(-0.8f * perSecond, agc.gainDb() - before, 0.01f * perSecond);
    }
  }
  auto agc = test::prepared<LoudnessAgc>(
      48000.0, {.enabled = true, .targetDb = -18, .maxGainDb = 30, .speed = 0.4f});
  run(agc, 48000.0, 0.01f, 0.01);
  EXPECT_NEAR(0.046f, agc.gainDb(), 1e-6f);
  agc.configure({.enabled = true, .targetDb = -30, .maxGainDb = 30, .speed = 0.4f});
  run(agc, 48000.0, 0.5f, 0.01);
  EXPECT_NEAR(0.046f - 0.092f, agc.gainDb(), 1e-6f);
}

// Verifies when the gain may move: not without voice (the signal passes exactly), not below
// -65 LU (but just above), never outside [-12, agcMaxGainDb]; a lowered maximum takes effect
// in the next block as a straight ramp; switched off, the gain returns to 0 dB by min(20 T, 1)
// of the distance per block of T seconds and the signal then passes exactly.
TEST(LoudnessAgcTest, AdaptsOnlyOnVoiceWithinLimits) {
  const double rate = 48000.0;
  auto agc = test::prepared<LoudnessAgc>(
      rate, {.enabled = true, .targetDb = -18, .maxGainDb = 12, .speed = 1.0f});
  EXPECT_EQ(test::sine(1000.0, rate, 96000, 0.01f), run(agc, rate, 0.01f, 2.0, 480, false));
  // Peaks for -66 and -64 LU: mean square, +0.44 dB of weighting at 1 kHz, -0.691.
  for (auto [loudness, moves] : {std::pair{-66.0, false}, {-64.0, true}}) {
    agc.reset();
    run(agc, rate, static_cast<float>(std::sqrt(2.0 * std::pow(10.0, (loudness + 0.251) / 10))),
        3.0);
    EXPECT_EQ(moves, agc.gainDb() > 5.0f) << loudness;
  }
  run(agc, rate, 0.001f, 3.0);
  EXPECT_EQ(12.0f, agc.gainDb());

  agc.configure({.enabled = true, .targetDb = -18, .maxGainDb = 3, .speed = 1.0f});
  std::vector<float> block(480, 0.25f);
  agc.process(block.data(), 480, false);
  const float from = 0.25f * dbToGain(12.0f), to = 0.25f * dbToGain(3.0f);
  EXPECT_NEAR(from + (to - from) / 480.0f, block[0], 1e-5f);
  for (int i = 1; i < 479; ++i)
    ASSERT_NEAR(0.0f, block[i + 1] - 2.0f * block[i] + block[i - 1], 1e-6f) << i;
  block.assign(480, 0.25f);
  agc.process(block.data(), 480, false);
  EXPECT_EQ(std::vector<float>(480, to), block);

  agc.configure({.enabled = true, .targetDb = -30, .maxGainDb = 3, .speed = 1.0f});
  run(agc, rate, 0.9f, 3.0);
  EXPECT_EQ(-12.0f, agc.gainDb());
  agc.configure({.enabled = false, .targetDb = -30, .maxGainDb = 3, .speed = 1.0f});
  for (int k = 1; k <= 10; ++k) {
    block.assign(480, 0.25f);
    agc.process(block.data(), 480, true);
    ASSERT_NEAR(-12.0 * std::pow(0.8, k), agc.gainDb(), 1e-4) << k;
  }
  EXPECT_NEAR(0.25f * dbToGain(agc.gainDb()), block[479], 2e-5f);
  run(agc, rate, 0.3f, 10.0);
  EXPECT_EQ(test::sine(1000.0, rate, 48000, 0.3f), run(agc, rate, 0.3f, 1.0));
}

}  // namespace
}  // namespace vorlund
