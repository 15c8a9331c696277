#include "chain/equalizer.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "signal_helpers.h"

namespace vorlund {
namespace {

using test::measuredGainDb;
using test::sectionResponseDb;

using Bands = std::array<EqBand, Equalizer::kBandCount>;

// Every band off, so each test switches on only what it measures.
Bands allOff() {
  Bands bands{};
  for (EqBand& b : bands) b = {0, 0, 1000.0f, 0.0f, 1.0f};
  return bands;
}

// Verifies every band type against the cookbook response of the section designed from the
// band's own settings, measured on sines below, around and above its frequency, at two rates.
TEST(EqualizerTest, BandResponsesMatchTheirDesign) {
  for (double rate : {16000.0, 48000.0}) {
    SCOPED_TRACE(rate);
    for (int type = 0; type <= 6; ++type) {
      SCOPED_TRACE(type);
      Bands bands = allOff();
      bands[4] = {1, type, 1000.0f, -9.0f, 2.0f};
      auto eq = test::prepared<Equalizer>(rate, {.bands = bands});
      BiquadSection reference;
      designBiquad(reference, type, rate, 1000.0, -9.0, 2.0);
      for (double f : {150.0, 700.0, 1000.0, 1400.0, 5000.0}) {
        if (type == static_cast<int>(FilterType::Notch) && f == 1000.0) continue;  // -inf dB
        eq.reset();
        EXPECT_NEAR(sectionResponseDb(reference, f, rate),
                    measuredGainDb([&](float x) { return eq.process(x); }, f, rate), 0.02)
            << f;
      }
    }
  }
}

// Verifies which bands run: peaking and shelving bands under 0.05 dB leave the signal bit-exact,
// at 0.05 dB they act; low-pass, high-pass, notch and band-pass act at 0 dB; disabled bands
// and tone knobs within 0.01 of centre leave the signal bit-exact.
TEST(EqualizerTest, OnlyBandsThatChangeTheSignalRun) {
  constexpr double kRate = 48000.0;
  const std::vector<float> in = test::whiteNoise(4800, 11);
  const auto passesExactly = [&](const Bands& bands, float low, float presence, float air) {
    auto eq = test::prepared<Equalizer>(
        kRate, {.bands = bands, .toneLow = low, .tonePresence = presence, .toneAir = air});
    return test::processEach(eq, in) == in;
  };
  for (int type : {0, 1, 2}) {
    SCOPED_TRACE(type);
    Bands bands = allOff();
    bands[2] = {1, type, 1000.0f, 0.049f, 1.0f};
    bands[5] = {1, type, 3000.0f, -0.049f, 1.0f};
    EXPECT_TRUE(passesExactly(bands, 0.0f, 0.0f, 0.0f));
    bands[5].gainDb = -0.05f;
    EXPECT_FALSE(passesExactly(bands, 0.0f, 0.0f, 0.0f));
    bands[5].gainDb = -0.049f;
    bands[2].gainDb = 0.05f;
    EXPECT_FALSE(passesExactly(bands, 0.0f, 0.0f, 0.0f));
  }
  for (int type : {3, 4, 5, 6}) {
    Bands bands = allOff();
    bands[0] = {1, type, 1000.0f, 0.0f, 1.0f};
    EXPECT_FALSE(passesExactly(bands, 0.0f, 0.0f, 0.0f)) << type;
    bands[0].enabled = 0;
    EXPECT_TRUE(passesExactly(bands, 0.0f, 0.0f, 0.0f)) << type;
  }
  EXPECT_TRUE(passesExactly(allOff(), 0.01f, -0.01f, 0.01f));
  EXPECT_FALSE(passesExactly(allOff(), 0.0101f, 0.0f, 0.0f));
  EXPECT_FALSE(passesExactly(allOff(), 0.0f, -0.0101f, 0.0f));
  EXPECT_FALSE(passesExactly(allOff(), 0.0f, 0.0f, 0.0101f));
}

// Verifies the tone controls at the ends of their travel: the low shelf gives +-3 dB at 220 Hz
// and nearly +-6 dB far below, the presence peak +-5 dB at 3200 Hz, the air shelf +-3 dB at
// 10 kHz and nearly +-6 dB near the top of the band; across the band each knob follows the
// cookbook response of its filter.
TEST(EqualizerTest, ToneControlsAtTheirFrequencies) {
  constexpr double kRate = 48000.0;
  for (float sign : {1.0f, -1.0f}) {
    SCOPED_TRACE(sign);
    const auto gainDb = [&](float low, float presence, float air, double f) {
      auto eq = test::prepared<Equalizer>(
          kRate, {.bands = allOff(), .toneLow = low, .tonePresence = presence, .toneAir = air});
      return measuredGainDb([&](float x) { return eq.process(x); }, f, kRate);
    };
    EXPECT_NEAR(3.0 * sign, gainDb(sign, 0.0f, 0.0f, 220.0), 0.05);
    EXPECT_NEAR(6.0 * sign, gainDb(sign, 0.0f, 0.0f, 20.0), 0.25);
    EXPECT_NEAR(5.0 * sign, gainDb(0.0f, sign, 0.0f, 3200.0), 0.02);
    EXPECT_NEAR(3.0 * sign, gainDb(0.0f, 0.0f, sign, 10000.0), 0.05);
    EXPECT_NEAR(6.0 * sign, gainDb(0.0f, 0.0f, sign, 20000.0), 0.25);

    BiquadSection low, presence, air;
    designBiquad(low, FilterType::LowShelf, kRate, 220.0, 6.0 * sign, 0.7);
    designBiquad(presence, FilterType::Peaking, kRate, 3200.0, 5.0 * sign, 0.8);
    designBiquad(air, FilterType::HighShelf, kRate, 10000.0, 6.0 * sign, 0.7);
    for (double f : {100.0, 500.0, 1000.0, 2000.0, 5000.0, 7000.0}) {
      EXPECT_NEAR(sectionResponseDb(low, f, kRate), gainDb(sign, 0.0f, 0.0f, f), 0.02) << f;
      EXPECT_NEAR(sectionResponseDb(presence, f, kRate), gainDb(0.0f, sign, 0.0f, f), 0.02) << f;
      EXPECT_NEAR(sectionResponseDb(air, f, kRate), gainDb(0.0f, 0.0f, sign, f), 0.02) << f;
    }
  }
}

// Verifies that a band switched off and on again resumes with the state it had when switched
// off: its output then matches a band that never saw the signal in between.
TEST(EqualizerTest, BandSwitchedOffAndOnResumesItsState) {
  constexpr double kRate = 48000.0;
  Bands bands = allOff();
  bands[6] = {1, static_cast<int>(FilterType::LowPass), 500.0f, 0.0f, 4.0f};
  Equalizer toggled, steady;
  toggled.prepare(kRate);
  steady.prepare(kRate);
  toggled.configure({.bands = bands});
  steady.configure({.bands = bands});
  const std::vector<float> before = test::whiteNoise(2400, 1);
  test::processEach(toggled, before);
  test::processEach(steady, before);
  bands[6].enabled = 0;
  toggled.configure({.bands = bands});
  const std::vector<float> between = test::whiteNoise(2400, 2);
  EXPECT_EQ(between, test::processEach(toggled, between));
  bands[6].enabled = 1;
  toggled.configure({.bands = bands});
  const std::vector<float> after = test::whiteNoise(2400, 3);
  EXPECT_EQ(test::processEach(steady, after), test::processEach(toggled, after));
}

}  // namespace
}  // namespace vorlund
