#include "chain/noise_gate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "chain/gain.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

// The factory gate, switched on: -50 dB, 18 dB range, 2 ms attack, 150 ms hold, 180 ms release.
constexpr NoiseGate::Settings kFactoryGate = {.enabled = true,
                                              .thresholdDb = -50,
                                              .rangeDb = 18,
                                              .attackMs = 2,
                                              .holdMs = 150,
                                              .releaseMs = 180};

// Feeds a square wave at half the rate (every sample at the level, so the envelope settles on
// it exactly) for `seconds` and returns the gain after each sample.
std::vector<float> run(NoiseGate& gate, float levelDb, double rate, double seconds) {
  const float a = dbToGain(levelDb);
  std::vector<float> gains(static_cast<int>(rate * seconds));
  for (std::size_t i = 0; i < gains.size(); ++i) {
    const float x = i % 2 == 0 ? a : -a;
    const float y = gate.process(x);
    gains[i] = gate.gain();
    EXPECT_EQ(x * gains[i], y);
  }
  return gains;
}

// Samples for a one-pole envelope of `ms` heading from level a to c to pass level b.
double crossing(double aDb, double bDb, double cDb, double ms, double rate) {
  const double a = dbToGain(aDb), b = dbToGain(bDb), c = dbToGain(cDb);
  return ms * 0.001 * rate * std::log((a - c) / (b - c));
}

// Verifies closing and opening: after a drop below the close threshold the gain starts to
// fall one hold time after the envelope passed the open threshold (at once without hold, when
// it passes the close threshold), falls with the release time and ends gateRangeDb down; a
// louder signal opens it again with the attack time.
TEST(NoiseGateTest, ClosesAfterHoldAndOpensOnLouderSignal) {
  for (double rate : {16000.0, 44100.0, 96000.0}) {
    for (float holdMs : {0.0f, 150.0f}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, hold " << holdMs << " ms");
      NoiseGate gate;
      gate.prepare(rate);
      NoiseGate::Settings settings = kFactoryGate;
      settings.holdMs = holdMs;
      gate.configure(settings);
      float gain = run(gate, -40.0f, rate, 0.5).back();
      std::vector<float> gains = run(gate, -60.0f, rate, 3.0);
      int closing = 0;
      while (gains[closing] >= (closing == 0 ? gain : gains[closing - 1])) ++closing;
      const double expected = holdMs > 0.0f
                                  ? crossing(-40, -50, -60, 25, rate) + holdMs * 1e-3 * rate
                                  : crossing(-40, -54, -60, 25, rate);
      EXPECT_NEAR(expected, closing, 2.0);
      const float closed = dbToGain(-18.0f);
      const int release = static_cast<int>(std::lround(0.18 * rate));
      EXPECT_NEAR(closed + (1.0f - closed) / std::exp(1.0f), gains[closing - 1 + release], 0.01f);
      EXPECT_NEAR(-18.0, 20.0 * std::log10(gains.back()), 0.02);

      gains = run(gate, -45.0f, rate, 0.1);
      const double attack = crossing(-60, -50, -45, 0.5, rate) + 0.002 * rate;
      EXPECT_NEAR(1.0f - (1.0f - closed) / std::exp(1.0f), gains[std::lround(attack)], 0.02f);
    }
  }
}

// Verifies the thresholds to within 0.5 dB: from gateThresholdDb with the close threshold 4 dB
// lower, or 8 dB above the background held within [-75, -25] dB (-90 dB gives -75/-79, -20 dB
// gives -25/-29); between them the gate keeps its state. Switched off, a closed gate's gain
// returns to 1 with the attack time while its state machine runs on.
TEST(NoiseGateTest, ThresholdsHysteresisAndSwitchingOff) {
  const double rate = 48000.0;
  auto gate = test::prepared<NoiseGate>(rate, kFactoryGate);
  // Does a closed gate open at `levelDb`; does an open one close?
  auto opens = [&](float levelDb) {
    gate.reset();
    run(gate, -120.0f, rate, 1.0);
    return run(gate, levelDb, rate, 1.0).back() > 0.5f;
  };
  auto closes = [&](float openDb, float levelDb) {
    gate.reset();
    run(gate, openDb + 6.0f, rate, 0.1);
    return run(gate, levelDb, rate, 1.5).back() < 0.5f;
  };
  const float noBackground = NAN;
  for (auto [backgroundDb, openDb] :
       {std::pair{noBackground, -50.0f}, {-90.0f, -75.0f}, {-20.0f, -25.0f}, {-50.0f, -42.0f}}) {
    SCOPED_TRACE(backgroundDb);
    if (!std::isnan(backgroundDb)) gate.setAutoThreshold(backgroundDb);
    EXPECT_TRUE(opens(openDb + 0.5f));
    EXPECT_FALSE(opens(openDb - 0.5f));
    EXPECT_FALSE(closes(openDb, openDb - 3.5f));
    EXPECT_TRUE(closes(openDb, openDb - 4.5f));
  }

  NoiseGate::Settings off = kFactoryGate;
  off.enabled = false;
  gate.configure(off);
  const std::vector<float> gains = run(gate, -120.0f, rate, 1.0);
  EXPECT_NEAR(1.0f - (1.0f - dbToGain(-18.0f)) / std::exp(1.0f), gains[95], 0.01f);
  EXPECT_NEAR(1.0f, gains.back(), 1e-5f);
  gate.configure(kFactoryGate);
  EXPECT_LT(run(gate, -120.0f, rate, 1e-4)[0], gains.back());
}

}  // namespace
}  // namespace vorlund
