#include <gtest/gtest.h>

#include <cmath>

#include "chain/dc_blocker.h"
#include "chain/high_pass_filter.h"
#include "chain/hum_filter.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

using test::measuredGainDb;
using test::sectionResponseDb;

// Verifies the 12 and 24 dB per octave high-pass: measured gain matches the analytic response
// of the designed sections, -3 dB at the corner for order 2, and the slope far below it.
TEST(InputConditioningTest, HighPassResponses) {
  for (double rate : {16000.0, 48000.0}) {
    SCOPED_TRACE(rate);
    for (int order : {2, 4}) {
      SCOPED_TRACE(order);
      auto hp = test::prepared<HighPassFilter>(
          rate, {.enabled = true, .cornerHz = 100.0f, .order = order});
      ASSERT_EQ(order == 4 ? 2 : 1, hp.sectionCount());
      for (double f : {25.0, 50.0, 100.0, 200.0, 1000.0}) {
        double analytic = 0.0;
        for (int i = 0; i < hp.sectionCount(); ++i)
          analytic += sectionResponseDb(hp.section(i), f, rate);
        hp.reset();
        const double measured =
            measuredGainDb([&](float x) { return hp.process(x); }, f, rate, 2.0);
        EXPECT_NEAR(analytic, measured, 0.1) << f;
      }
      hp.reset();
      const double at25 = measuredGainDb([&](float x) { return hp.process(x); }, 25.0, rate, 2.0);
      // Two octaves below the corner: about 24 dB (order 2) or 48 dB (order 4) down.
      EXPECT_NEAR(order == 2 ? -24.1 : -48.2, at25, 0.6);
      if (order == 2) {
        EXPECT_NEAR(-3.01, sectionResponseDb(hp.section(0), 100.0, rate), 0.01);
      }
    }
  }
  HighPassFilter hp =
      test::prepared<HighPassFilter>(48000.0, {.enabled = true, .cornerHz = 80.0f, .order = 3});
  EXPECT_EQ(1, hp.sectionCount());
  hp.configure({.enabled = false, .cornerHz = 80.0f, .order = 4});
  EXPECT_EQ(0, hp.sectionCount());
  EXPECT_EQ(0.25f, hp.process(0.25f));
}

// Verifies the hum notches: deep at every harmonic, the level midway between them unchanged,
// and the notch count limited by the harmonics setting, eight, and 0.45 x rate.
TEST(InputConditioningTest, HumNotchesDeepAtHarmonicsFlatBetween) {
  HumFilter hum =
      test::prepared<HumFilter>(48000.0, {.enabled = true, .baseHz = 50.0f, .harmonics = 4});
  ASSERT_EQ(4, hum.sectionCount());
  auto run = [&](float x) { return hum.process(x); };
  for (double f : {50.0, 100.0, 150.0, 200.0}) {
    hum.reset();
    EXPECT_LT(measuredGainDb(run, f, 48000.0, 4.0), -30.0) << f;
  }
  for (double f : {75.0, 125.0, 175.0, 400.0, 1000.0}) {
    hum.reset();
    EXPECT_NEAR(0.0, measuredGainDb(run, f, 48000.0, 4.0), 0.3) << f;
  }

  HumFilter low =
      test::prepared<HumFilter>(8000.0, {.enabled = true, .baseHz = 60.0f, .harmonics = 8});
  EXPECT_EQ(8, low.sectionCount());
  low.prepare(200.0);
  low.configure({.enabled = true, .baseHz = 50.0f, .harmonics = 8});
  EXPECT_EQ(1, low.sectionCount());
}

// Verifies that toggling the hum filter off and on redesigns without clearing its state, and
// that an unchanged configuration leaves the sections alone.
TEST(InputConditioningTest, HumRedesignKeepsState) {
  HumFilter hum =
      test::prepared<HumFilter>(48000.0, {.enabled = true, .baseHz = 60.0f, .harmonics = 3});
  for (float x : test::sine(60.0, 48000.0, 1000)) hum.process(x);
  const float z1 = hum.section(0).z1;
  ASSERT_NE(0.0f, z1);
  hum.configure({.enabled = false, .baseHz = 60.0f, .harmonics = 3});
  hum.configure({.enabled = true, .baseHz = 60.0f, .harmonics = 3});
  EXPECT_EQ(z1, hum.section(0).z1);
  const float a1 = hum.section(1).a1;
  hum.configure({.enabled = true, .baseHz = 50.0f, .harmonics = 3});
  EXPECT_NE(a1, hum.section(1).a1);
  EXPECT_EQ(z1, hum.section(0).z1);
}

// Verifies the DC blocker: a step decays with a time constant of 1/(2 pi 10) s.
TEST(InputConditioningTest, DcBlockerTimeConstant) {
  for (double rate : {8000.0, 48000.0}) {
    DcBlocker dc;
    dc.prepare(rate);
    const int tau = static_cast<int>(std::lround(rate / (2.0 * std::numbers::pi * 10.0)));
    float y = 0.0f;
    for (int i = 0; i <= tau; ++i) y = dc.process(1.0f);
    EXPECT_NEAR(std::exp(-1.0), y, 0.01) << rate;
    for (int i = 0; i < 10 * tau; ++i) y = dc.process(1.0f);
    EXPECT_LT(std::fabs(y), 1e-4f);
    dc.reset();
    EXPECT_EQ(1.0f, dc.process(1.0f));
  }
}

}  // namespace
}  // namespace vorlund
