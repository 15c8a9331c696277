#include "chain/biquad.h"

#include <gtest/gtest.h>

#include <cmath>

#include "signal_helpers.h"

namespace vorlund {
namespace {

using test::measuredGainDb;
using test::sectionResponseDb;

// Verifies each designer type's response at its defining frequencies, measured on sines.
TEST(BiquadTest, DesignedResponsesMatchTheirType) {
  constexpr double kRate = 48000.0;
  BiquadSection s;
  auto run = [&](float x) { return s.process(x); };

  designBiquad(s, FilterType::Peaking, kRate, 1000.0, 6.0, 1.0);
  EXPECT_NEAR(6.0, measuredGainDb(run, 1000.0, kRate), 0.05);
  s.reset();
  EXPECT_NEAR(0.0, measuredGainDb(run, 50.0, kRate), 0.1);

  designBiquad(s, FilterType::LowShelf, kRate, 200.0, -9.0, 0.7);
  s.reset();
  EXPECT_NEAR(-9.0, measuredGainDb(run, 20.0, kRate), 0.2);
  s.reset();
  EXPECT_NEAR(0.0, measuredGainDb(run, 8000.0, kRate), 0.05);

  designBiquad(s, FilterType::HighShelf, kRate, 5000.0, 6.0, 0.7);
  s.reset();
  EXPECT_NEAR(6.0, measuredGainDb(run, 18000.0, kRate), 0.2);
  s.reset();
  EXPECT_NEAR(0.0, measuredGainDb(run, 100.0, kRate), 0.05);

  designBiquad(s, FilterType::LowPass, kRate, 1000.0, 0.0, 0.70710678);
  s.reset();
  EXPECT_NEAR(-3.01, measuredGainDb(run, 1000.0, kRate), 0.05);

  designBiquad(s, FilterType::Notch, kRate, 1000.0, 0.0, 5.0);
  s.reset();
  EXPECT_LT(measuredGainDb(run, 1000.0, kRate), -40.0);

  designBiquad(s, FilterType::BandPass, kRate, 2000.0, 12.0, 2.0);
  s.reset();
  EXPECT_NEAR(0.0, measuredGainDb(run, 2000.0, kRate), 0.05);

  designBiquad(s, FilterType::AllPass, kRate, 2000.0, 0.0, 2.0);
  for (double f : {100.0, 2000.0, 15000.0}) EXPECT_NEAR(0.0, sectionResponseDb(s, f, kRate), 1e-4);
}

// Verifies the clamps: 0 Hz designs 5 Hz, high frequencies design 0.49 x rate, Q 0 designs
// Q 0.05, gain 0 shelves and peaks are flat, unknown types and rates <= 0 give the identity.
TEST(BiquadTest, ClampsAndIdentity) {
  BiquadSection a, b;
  designBiquad(a, FilterType::HighPass, 48000.0, 0.0, 0.0, 0.7);
  designBiquad(b, FilterType::HighPass, 48000.0, 5.0, 0.0, 0.7);
  EXPECT_EQ(a.b0, b.b0);
  EXPECT_EQ(a.a1, b.a1);
  designBiquad(a, FilterType::LowPass, 44100.0, 30000.0, 0.0, 0.7);
  designBiquad(b, FilterType::LowPass, 44100.0, 21609.0, 0.0, 0.7);
  EXPECT_EQ(a.b0, b.b0);
  EXPECT_EQ(a.a2, b.a2);
  designBiquad(a, FilterType::BandPass, 48000.0, 1000.0, 0.0, 0.0);
  designBiquad(b, FilterType::BandPass, 48000.0, 1000.0, 0.0, 0.05);
  EXPECT_EQ(a.b0, b.b0);

  for (int type : {0, 1, 2}) {
    designBiquad(a, type, 48000.0, 1000.0, 0.0, 1.0);
    for (double f : {30.0, 1000.0, 12000.0})
      EXPECT_NEAR(0.0, test::sectionResponseDb(a, f, 48000.0), 1e-4) << type;
  }
  for (int type : {8, -1}) {
    designBiquad(a, FilterType::Peaking, 48000.0, 1000.0, 6.0, 1.0);
    designBiquad(a, type, 48000.0, 1000.0, 6.0, 1.0);
    EXPECT_EQ(1.0f, a.b0);
    EXPECT_EQ(0.0f, a.b1 + a.b2 + a.a1 + a.a2);
  }
  designBiquad(a, FilterType::Peaking, 0.0, 1000.0, 6.0, 1.0);
  EXPECT_EQ(1.0f, a.b0);
  EXPECT_EQ(0.0f, a.a1);
}

// Verifies that redesigning mid-signal keeps z1 and z2, so the output does not restart.
TEST(BiquadTest, RedesignKeepsState) {
  BiquadSection s;
  designBiquad(s, FilterType::LowPass, 48000.0, 500.0, 0.0, 0.7);
  for (int i = 0; i < 100; ++i) s.process(0.5f);
  const float z1 = s.z1, z2 = s.z2;
  ASSERT_NE(0.0f, z1);
  designBiquad(s, FilterType::LowPass, 48000.0, 600.0, 0.0, 0.7);
  EXPECT_EQ(z1, s.z1);
  EXPECT_EQ(z2, s.z2);
}

// Verifies the smoothing rule and the follower: 0 ms jumps, 10 ms at 48 kHz is exp(-1/480),
// and the follower closes (1 - e^-1) of a step in one time constant.
TEST(BiquadTest, SmoothingCoefficientAndFollower) {
  EXPECT_EQ(0.0f, smoothingCoefficient(0.0, 48000.0));
  EXPECT_EQ(0.0f, smoothingCoefficient(10.0, 0.0));
  EXPECT_EQ(static_cast<float>(std::exp(-1.0 / 480.0)), smoothingCoefficient(10.0, 48000.0));
  EXPECT_EQ(3.0f, follow(1.0f, 3.0f, 0.0f));

  const float c = smoothingCoefficient(10.0, 48000.0);
  float state = 0.0f;
  for (int i = 0; i < 480; ++i) state = follow(state, 1.0f, c);
  EXPECT_NEAR(1.0 - std::exp(-1.0), state, 1e-4);

  AttackRelease ar;
  ar.set(1.0, 100.0, 48000.0);
  EXPECT_GT(ar.follow(0.0f, 1.0f), 0.02f);   // fast rise
  EXPECT_GT(ar.follow(1.0f, 0.0f), 0.999f);  // slow fall
}

}  // namespace
}  // namespace vorlund
