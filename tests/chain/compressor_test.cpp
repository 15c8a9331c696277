#include "chain/compressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "chain/gain.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

// The factory's curve and timing (-22 dB, 3:1, 5 ms, 120 ms, 6 dB knee), without and with the
// automatic make-up.
constexpr Compressor::Settings kPlain = {
    .enabled = true, .thresholdDb = -22, .ratio = 3, .attackMs = 5, .releaseMs = 120, .kneeDb = 6};
constexpr Compressor::Settings kAutomatic = {.enabled = true,
                                             .thresholdDb = -22,
                                             .ratio = 3,
                                             .attackMs = 5,
                                             .releaseMs = 120,
                                             .kneeDb = 6,
                                             .autoMakeup = true};

// Feeds a square wave at half the rate (the same level on every sample) and returns each
// sample's gain in dB.
std::vector<double> run(Compressor& c, float levelDb, int count) {
  const float a = dbToGain(levelDb);
  std::vector<float> block(count);
  for (int i = 0; i < count; ++i) block[i] = i % 2 == 0 ? a : -a;
  c.process(block.data(), count);
  std::vector<double> gains(count);
  for (int i = 0; i < count; ++i) gains[i] = test::toDb(block[i] / (i % 2 == 0 ? a : -a));
  return gains;
}

// Verifies the static curve at 3:1 above -22 dB: nothing below the 6 dB knee, the quadratic
// knee (0.5 dB at the threshold, 2 dB at its top edge), the straight line above it; a hard
// knee gives exactly 0 at the threshold; samples up to 1e-6 count as -120 dBFS. The meter reads
// the reduction.
TEST(CompressorTest, StaticCurveWithSoftKnee) {
  const struct {
    float thresholdDb, ratio, kneeDb, levelDb;
    double reductionDb;
  } cases[] = {{-22, 3, 6, -40, 0},      {-22, 3, 6, -25, 0},  {-22, 3, 6, -23.5f, 0.125},
               {-22, 3, 6, -22, 0.5},    {-22, 3, 6, -19, 2},  {-22, 3, 6, -17.5f, 3},
               {-22, 3, 6, 0, 44.0 / 3}, {-22, 3, 0, -22, 0},  {-22, 3, 0, -4, 12},
               {-121, 2, 0, -140, 0.5},  {-121, 2, 0, -119, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.thresholdDb << " dB, knee " << c.kneeDb << ", level " << c.levelDb);
    auto comp = test::prepared<Compressor>(48000.0, {.enabled = true,
                                                     .thresholdDb = c.thresholdDb,
                                                     .ratio = c.ratio,
                                                     .attackMs = 5,
                                                     .releaseMs = 120,
                                                     .kneeDb = c.kneeDb});
    EXPECT_NEAR(-c.reductionDb, run(comp, c.levelDb, 48000).back(), 2e-3);
    EXPECT_NEAR(-c.reductionDb, comp.reductionDb(), 2e-3);
  }
}

// Verifies the timing on level steps: the reduction rises with the attack time constant and,
// after a step down, decays as the release stage followed by the attack smoother (two cascaded
// one-pole responses).
TEST(CompressorTest, AttackAndReleaseOnLevelSteps) {
  for (double rate : {16000.0, 44100.0, 96000.0}) {
    SCOPED_TRACE(rate);
    auto comp = test::prepared<Compressor>(rate, kPlain);
    run(comp, -40.0f, 1000);
    const double ta = 0.005 * rate, tr = 0.12 * rate;
    const std::vector<double> up = run(comp, -10.0f, static_cast<int>(rate));  // 8 dB
    const std::vector<double> down = run(comp, -40.0f, static_cast<int>(rate));
    for (double t : {0.5, 1.0, 3.0}) {
      const int n = static_cast<int>(std::lround(t * ta));
      EXPECT_NEAR(-8.0 * (1.0 - std::exp(-(n + 1) / ta)), up[n], 0.01) << t;
      const int m = static_cast<int>(std::lround(t * tr));
      const double k = m + 1;
      EXPECT_NEAR(-8.0 * (tr * std::exp(-k / tr) - ta * std::exp(-k / ta)) / (tr - ta), down[m],
                  0.02)
          << t;
    }
  }
}

// Verifies make-up gain, measured far below the threshold: automatic make-up adds
// (1 - 1/ratio) x half the threshold's distance below 0 dB (7.33 dB with the defaults), never
// more than 15 dB nor less than 0, to the manual make-up; at ratio 1 (or below) only the manual
// make-up applies, however loud the signal. Disabled, the stage passes samples untouched and
// keeps its state, and a reset clears it.
TEST(CompressorTest, MakeupAndSwitchingOff) {
  const struct {
    float thresholdDb, ratio, makeupDb;
    bool autoMakeup;
    double gainDb;
  } cases[] = {{-22, 3, 0, true, 22.0 / 3}, {-22, 3, 2, true, 2 + 22.0 / 3},
               {-22, 3, 2, false, 2},       {-60, 20, 0, true, 15},
               {6, 3, 0, true, 0},          {-40, 1, 6, true, 6},
               {-40, 0.5f, -3, true, -3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.thresholdDb << " dB, ratio " << c.ratio);
    auto comp = test::prepared<Compressor>(48000.0, {.enabled = true,
                                                     .thresholdDb = c.thresholdDb,
                                                     .ratio = c.ratio,
                                                     .attackMs = 5,
                                                     .releaseMs = 120,
                                                     .kneeDb = 6,
                                                     .makeupDb = c.makeupDb,
                                                     .autoMakeup = c.autoMakeup});
    EXPECT_NEAR(c.gainDb, run(comp, -100.0f, 48000).back(), 1e-3);
    if (c.ratio <= 1.0f) {
      EXPECT_NEAR(c.gainDb, run(comp, 0.0f, 48000).back(), 1e-3);
    }
  }

  auto comp = test::prepared<Compressor>(48000.0, kAutomatic);
  run(comp, -10.0f, 48000);
  const float held = comp.reductionDb();
  comp.configure({.enabled = false,
                  .thresholdDb = -22,
                  .ratio = 3,
                  .attackMs = 5,
                  .releaseMs = 120,
                  .kneeDb = 6,
                  .autoMakeup = true});
  const std::vector<float> sine = test::sine(1000.0, 48000.0, 4800, 0.9);
  std::vector<float> out = sine;
  comp.process(out.data(), static_cast<int>(out.size()));
  EXPECT_EQ(sine, out);
  EXPECT_EQ(held, comp.reductionDb());
  comp.configure(kAutomatic);
  EXPECT_NEAR(22.0 / 3 - 8.0, run(comp, -60.0f, 1)[0], 0.01);
  comp.reset();
  EXPECT_NEAR(22.0 / 3, run(comp, -60.0f, 1)[0], 1e-3);
}

}  // namespace
}  // namespace vorlund
