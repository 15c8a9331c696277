#include "chain/plosive_suppressor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "chain/gain.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

using test::toDb;

// Smallest gain over the second half of a one-second sine, once the envelopes have settled.
double settledMinGainDb(PlosiveSuppressor& p, double frequency, double rate) {
  const std::vector<float> in = test::sine(frequency, rate, static_cast<int>(rate));
  const std::size_t half = in.size() / 2;
  test::processEach(p, std::vector<float>(in.begin(), in.begin() + half));
  p.clearBlockMinGain();
  test::processEach(p, std::vector<float>(in.begin() + half, in.end()));
  return toDb(p.blockMinGain());
}

// Verifies the split at 110 Hz at every rate: tones that carry no low-frequency burst pass
// with unit magnitude (the Linkwitz-Riley all-pass, within the float error of a 110 Hz
// section at 384 kHz), a 60 Hz tone, whose low band stands far
// above its high band, is cut, and a 95 Hz tone is not.
TEST(PlosiveSuppressorTest, AllPassWithoutLowBurstAndCrossoverAt110Hz) {
  for (double rate : {8000.0, 48000.0, 384000.0}) {
    SCOPED_TRACE(rate);
    PlosiveSuppressor p =
        test::prepared<PlosiveSuppressor>(rate, {.enabled = true, .strength = 0.5f});
    for (double f : {95.0, 110.0, 300.0, 1000.0, 0.45 * rate}) {
      p.reset();
      EXPECT_NEAR(0.0, test::measuredGainDb([&](float x) { return p.process(x); }, f, rate), 0.03)
          << f;
      EXPECT_EQ(1.0f, p.blockMinGain()) << f;
    }
    p.reset();
    EXPECT_LT(settledMinGainDb(p, 60.0, rate), -6.0);
  }
}

// Verifies the trigger ratio and the squared cut for each strength: a 75 Hz tone, whose band
// envelopes stand in the ratio of the split's responses, settles at (ratio x high / low)^2,
// held at the floor of -(18 x strength + 6) dB; a huge 40 Hz burst over a faint voice band
// reaches the floor and never goes below it; a burst whose envelope stays under -32 dBFS is
// never cut.
TEST(PlosiveSuppressorTest, CutFollowsTriggerRatioAndFloor) {
  constexpr double kRate = 48000.0;
  BiquadSection lowPass, highPass;
  designBiquad(lowPass, FilterType::LowPass, kRate, 110.0, 0.0, 0.70710678);
  designBiquad(highPass, FilterType::HighPass, kRate, 110.0, 0.0, 0.70710678);
  const double bandRatioDb = 2.0 * (test::sectionResponseDb(lowPass, 75.0, kRate) -
                                    test::sectionResponseDb(highPass, 75.0, kRate));
  for (float strength : {0.0f, 0.5f, 1.0f}) {
    SCOPED_TRACE(strength);
    const double triggerDb = toDb(6.0 - 3.0 * strength);
    const double floorDb = -(18.0 * strength + 6.0);
    const double expectedDb = std::min(0.0, std::max(2.0 * (triggerDb - bandRatioDb), floorDb));
    PlosiveSuppressor p =
        test::prepared<PlosiveSuppressor>(kRate, {.enabled = true, .strength = strength});
    EXPECT_NEAR(expectedDb, settledMinGainDb(p, 75.0, kRate), 0.05);

    p.reset();
    std::vector<float> burst = test::sine(40.0, kRate, 24000, 0.9);
    const std::vector<float> voice = test::sine(1000.0, kRate, 24000, 0.001);
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] += voice[i];
    test::processEach(p, burst);
    EXPECT_NEAR(floorDb, toDb(p.blockMinGain()), 0.05);
    EXPECT_GE(p.blockMinGain(), dbToGain(static_cast<float>(floorDb)) * 0.9999f);

    p.reset();
    test::processEach(p, test::sine(40.0, kRate, 24000, dbToGain(-34.0f)));
    EXPECT_EQ(1.0f, p.blockMinGain());
  }
}

// Verifies that disabled is exact, that the split runs while disabled (switching on mid-signal
// gives the same output as a suppressor that was on all along), and that processing after a
// reset repeats exactly.
TEST(PlosiveSuppressorTest, DisabledExactAndStateRunsWhileOff) {
  constexpr double kRate = 48000.0;
  std::vector<float> in = test::whiteNoise(9600, 5, 0.3f);
  const std::vector<float> burst = test::sine(30.0, kRate, 9600, 0.8);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] += burst[i];
  PlosiveSuppressor off =
      test::prepared<PlosiveSuppressor>(kRate, {.enabled = false, .strength = 1.0f});
  const std::vector<float> passed = test::processEach(off, in);
  EXPECT_EQ(0, std::memcmp(in.data(), passed.data(), in.size() * sizeof(float)));
  EXPECT_EQ(1.0f, off.blockMinGain());

  // White noise carries too little below 110 Hz to trigger, so the gain stays exactly 1.
  const std::vector<float> history = test::whiteNoise(4800, 7, 0.3f);
  const std::vector<float> later = test::whiteNoise(4800, 8, 0.3f);
  PlosiveSuppressor switched =
      test::prepared<PlosiveSuppressor>(kRate, {.enabled = false, .strength = 1.0f});
  PlosiveSuppressor on =
      test::prepared<PlosiveSuppressor>(kRate, {.enabled = true, .strength = 1.0f});
  test::processEach(on, history);
  test::processEach(switched, history);
  switched.configure({.enabled = true, .strength = 1.0f});
  EXPECT_EQ(test::processEach(on, later), test::processEach(switched, later));
  EXPECT_EQ(1.0f, on.blockMinGain());

  on.reset();
  const std::vector<float> first = test::processEach(on, in);
  on.reset();
  EXPECT_EQ(first, test::processEach(on, in));
}

}  // namespace
}  // namespace vorlund
