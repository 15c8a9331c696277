#include "common/equaliser_response.h"

#include <gtest/gtest.h>

#include "chain/equalizer.h"
#include "chain/stage_settings.h"
#include "record_helpers.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

// The curve the panel draws is what the equaliser does to a tone: with bands of several types
// and all three tone knobs off centre, the plotted gain at a frequency matches the level change
// of a sine run through the chain's own Equalizer, at two rates; a switched-off equaliser is flat.
TEST(EqualiserResponseTest, MatchesTheGainOfTonesThroughTheEqualizer) {
  ParameterBlock record = test::defaultRecord();
  record.eqBands[0] = {1, 1, 150.0f, 5.0f, 0.7f};    // low shelf
  record.eqBands[1] = {1, 0, 900.0f, -8.0f, 2.0f};   // peaking cut
  record.eqBands[2] = {1, 4, 60.0f, 0.0f, 0.707f};   // high-pass
  record.eqBands[3] = {0, 0, 3000.0f, 12.0f, 1.0f};  // switched off: no effect
  record.toneLow = -0.5f;
  record.tonePresence = 0.8f;
  record.toneAir = 1.0f;
  record.eqEnabled = 1;

  for (const double rate : {48000.0, 44100.0}) {
    const std::vector<ResponsePoint> curve = equaliserResponse(record, rate, 20.0, 20000.0, 241);
    ASSERT_EQ(241u, curve.size());
    EXPECT_NEAR(20.0, curve.front().frequencyHz, 1e-9);
    EXPECT_NEAR(20000.0, curve.back().frequencyHz, 1e-6);
    for (const std::size_t i : {30u, 80u, 120u, 150u, 190u, 230u}) {
      const double f = curve[i].frequencyHz;
      SCOPED_TRACE(f);
      auto equalizer = test::prepared<Equalizer>(rate, equalizerSettings(record));
      const int n = static_cast<int>(rate);  // one second; the last half is measured
      std::vector<float> x = test::sine(f, rate, n, 0.1);
      std::vector<float> y(x.size());
      for (std::size_t k = 0; k < x.size(); ++k) y[k] = equalizer.process(x[k]);
      const double measured = test::toDb(test::toneAmplitude(y, f, rate, n / 2, n) /
                                         test::toneAmplitude(x, f, rate, n / 2, n));
      EXPECT_NEAR(measured, curve[i].gainDb, 0.05);
    }
  }

  record.eqEnabled = 0;
  for (const ResponsePoint& point : equaliserResponse(record, 48000.0, 20.0, 20000.0, 50))
    EXPECT_EQ(0.0, point.gainDb);
}

}  // namespace
}  // namespace vorlund
