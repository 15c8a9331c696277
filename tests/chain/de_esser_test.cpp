#include "chain/de_esser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstring>
#include <vector>

#include "chain/gain.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

using test::toDb;

constexpr double kRate = 48000.0;

// Verifies the cut on steady tones, whose two envelopes stand in the ratio of the sidechain's
// response: 1.5 dB per dB of band level over the relative threshold, capped by the amount,
// applied to the band above 0.55 x the sibilance frequency only; the tone's level follows
// from the split's response.
TEST(DeEsserTest, CutFollowsBandRatioOverRelativeThreshold) {
  struct Case {
    float amount;
    double toneHz;
  };
  // Below the cap, at the cap, and under the threshold, for the three depths.
  for (const Case c : {Case{0.0f, 11000.0}, Case{0.35f, 13500.0}, Case{1.0f, 17500.0},
                       Case{0.35f, 9000.0}, Case{1.0f, 2500.0}, Case{0.35f, 16000.0}}) {
    SCOPED_TRACE(c.toneHz);
    SCOPED_TRACE(c.amount);
    auto d = test::prepared<DeEsser>(kRate,
                                     {.enabled = true, .frequencyHz = 6500.0f, .amount = c.amount});
    BiquadSection band, split;
    designBiquad(band, FilterType::BandPass, kRate, 6500.0, 0.0, 1.0);
    designBiquad(split, FilterType::HighPass, kRate, 0.55 * 6500.0, 0.0, 0.7071);
    const double overDb = test::sectionResponseDb(band, c.toneHz, kRate) - (-6.0 - 12.0 * c.amount);
    const double cutDb = overDb > 0.0 ? std::min(3.0 + 9.0 * c.amount, 1.5 * overDb) : 0.0;
    const double gain = std::pow(10.0, -cutDb / 20.0);
    const std::complex<double> h = test::sectionResponse(split, c.toneHz, kRate);
    const double expectedLevelDb = toDb(std::abs(1.0 - h + gain * h));

    const std::vector<float> in = test::sine(c.toneHz, kRate, 48000, 0.3);
    test::processEach(d, std::vector<float>(in.begin(), in.begin() + 24000));
    d.clearBlockMinGain();
    const std::vector<float> out =
        test::processEach(d, std::vector<float>(in.begin() + 24000, in.end()));
    EXPECT_NEAR(-cutDb, toDb(d.blockMinGain()), 0.05);
    EXPECT_NEAR(expectedLevelDb, toDb(test::rms(out) / test::rms(in, 24000)), 0.05);
  }
}

// Verifies the de-esser on speech-like material: under a sibilant noise band around 6.5 kHz
// the gain sits at the capped 6.15 dB and the output is the input with the split's upper band
// turned down by it, while a quiet 500 Hz tone under the band keeps its level; a vowel-like
// harmonic series faded in is left alone; a sibilant band under -50 dBFS never triggers.
TEST(DeEsserTest, SibilanceCutVoiceAndSilenceLeftAlone) {
  constexpr int kCount = 48000;
  constexpr int kHalf = kCount / 2;
  BiquadSection shaping[2];
  for (BiquadSection& s : shaping) designBiquad(s, FilterType::BandPass, kRate, 6500.0, 0, 2.0);
  std::vector<float> sibilant = test::whiteNoise(kCount, 21, 0.8f);
  for (float& x : sibilant) x = shaping[1].process(shaping[0].process(x));
  const std::vector<float> low = test::sine(500.0, kRate, kCount, 0.02);
  std::vector<float> in(kCount);
  for (int i = 0; i < kCount; ++i) in[i] = sibilant[i] + low[i];

  DeEsser d =
      test::prepared<DeEsser>(kRate, {.enabled = true, .frequencyHz = 6500.0f, .amount = 0.35f});
  const std::vector<float> out = test::processEach(d, in);
  EXPECT_NEAR(-6.15, toDb(d.blockMinGain()), 0.05);
  BiquadSection split;
  designBiquad(split, FilterType::HighPass, kRate, 0.55 * 6500.0, 0.0, 0.7071);
  const float cut = 1.0f - dbToGain(-6.15f);
  std::vector<float> expected(kCount);
  for (int i = 0; i < kCount; ++i) expected[i] = in[i] - cut * split.process(in[i]);
  EXPECT_LT(test::rms(out, kHalf) / test::rms(in, kHalf), dbToGain(-2.0f));
  for (int i = kHalf; i < kCount; ++i) ASSERT_NEAR(expected[i], out[i], 1e-4f) << i;
  EXPECT_NEAR(0.0,
              toDb(test::toneAmplitude(out, 500.0, kRate, kHalf, kCount) /
                   test::toneAmplitude(in, 500.0, kRate, kHalf, kCount)),
              0.2);

  std::vector<float> vowel(kCount, 0.0f);
  for (int k = 1; k * 140.0 < 3000.0; ++k) {
    const std::vector<float> h = test::sine(140.0 * k, kRate, kCount, 0.3 / (k * k));
    for (int i = 0; i < kCount; ++i) vowel[i] += h[i];
  }
  // A 20 ms fade-in: an abrupt onset is a click, which rightly triggers.
  for (int i = 0; i < 960; ++i) vowel[i] *= 0.5f - 0.5f * std::cos(3.14159265f * i / 960.0f);
  d.reset();
  const std::vector<float> voiced = test::processEach(d, vowel);
  EXPECT_EQ(1.0f, d.blockMinGain());
  for (int i = 0; i < kCount; ++i) ASSERT_NEAR(vowel[i], voiced[i], 1e-6f) << i;

  d.reset();
  test::processEach(d, test::sine(6500.0, kRate, kCount, dbToGain(-52.0f)));
  EXPECT_EQ(1.0f, d.blockMinGain());
}

// Verifies the gain's time constants: under a steady sibilant tone it falls to its target
// within a few 1 ms attack times, and once the de-esser is switched off it returns to 1 with
// the 45 ms release.
TEST(DeEsserTest, GainFallsFastAndRecoversWithRelease) {
  DeEsser d =
      test::prepared<DeEsser>(kRate, {.enabled = true, .frequencyHz = 6500.0f, .amount = 0.35f});
  const std::vector<float> tone = test::sine(9000.0, kRate, 48000, 0.3);
  // The gain after the most recent sample, read through the meter of a one-sample window.
  const auto gainAfter = [&](int from, int count) {
    for (int i = from; i < from + count; ++i) {
      d.clearBlockMinGain();
      d.process(tone[i]);
    }
    return d.blockMinGain();
  };
  const float target = dbToGain(-6.15f);
  EXPECT_LT(gainAfter(0, 240), target * 1.02f);  // 5 ms
  gainAfter(240, 23760);
  d.configure({.enabled = false, .frequencyHz = 6500.0f, .amount = 0.35f});
  const float recovered = gainAfter(24000, 2160);  // 45 ms
  EXPECT_NEAR(1.0f - (1.0f - target) * std::exp(-1.0f), recovered, 0.01f);
}

// Verifies that a new amount keeps the filters and their state, a new frequency redesigns
// them and still keeps their state, and that processing after a reset repeats exactly.
TEST(DeEsserTest, ConfigureKeepsStateAndResetRepeats) {
  DeEsser d =
      test::prepared<DeEsser>(kRate, {.enabled = true, .frequencyHz = 6500.0f, .amount = 0.35f});
  const std::vector<float> in = test::whiteNoise(4800, 4);
  const std::vector<float> first = test::processEach(d, in);
  const BiquadSection side = d.sidechain();
  const BiquadSection split = d.split();
  ASSERT_NE(0.0f, side.z1);
  d.configure({.enabled = true, .frequencyHz = 6500.0f, .amount = 0.9f});
  const BiquadSection sideKept = d.sidechain();
  const BiquadSection splitKept = d.split();
  EXPECT_EQ(0, std::memcmp(&side, &sideKept, sizeof side));
  EXPECT_EQ(0, std::memcmp(&split, &splitKept, sizeof split));
  d.configure({.enabled = true, .frequencyHz = 8000.0f, .amount = 0.9f});
  EXPECT_NE(side.a1, d.sidechain().a1);
  EXPECT_NE(split.b0, d.split().b0);
  EXPECT_EQ(side.z1, d.sidechain().z1);
  EXPECT_EQ(split.z2, d.split().z2);

  d.configure({.enabled = true, .frequencyHz = 6500.0f, .amount = 0.35f});
  d.reset();
  EXPECT_EQ(first, test::processEach(d, in));
}

}  // namespace
}  // namespace vorlund
