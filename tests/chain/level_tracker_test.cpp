#include "chain/level_tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "chain/biquad.h"
#include "chain/gain.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

// Feeds `updates` updates' worth of a constant and returns the background after each.
std::vector<float> feed(LevelTracker& tracker, float value, int interval, int updates) {
  std::vector<float> block(interval, value), background;
  for (int k = 0; k < updates; ++k) {
    tracker.process(block.data(), interval);
    background.push_back(tracker.backgroundDb());
  }
  return background;
}

// Verifies the update grid: every 5 ms (240 samples at 48 kHz, 220 at 44.1 kHz, 40 at 8 kHz,
// every sample when 5 ms is less than one), counted on across blocks, so any cut of a signal
// into blocks gives what one long block gives.
TEST(LevelTrackerTest, UpdateGridFollowsRateAcrossBlocks) {
  for (auto [rate, interval] :
       {std::pair{48000.0, 240}, {44100.0, 220}, {8000.0, 40}, {100.0, 1}}) {
    SCOPED_TRACE(rate);
    LevelTracker tracker;
    tracker.prepare(rate);
    // In digital silence every update moves the background.
    float zero = 0.0f, last = tracker.backgroundDb();
    for (int i = 0; i < 3 * interval; ++i) {
      tracker.process(&zero, 1);
      ASSERT_EQ((i + 1) % interval == 0, tracker.backgroundDb() != last) << i;
      last = tracker.backgroundDb();
    }
  }
  std::vector<float> signal = test::whiteNoise(192000, 3, 0.001f);
  for (int i = 24000; i < 192000; i += 48000)
    for (int j = i; j < i + 24000; ++j) signal[j] += 0.3f * std::sin(0.07f * j);
  LevelTracker whole, pieces;
  whole.prepare(48000.0);
  pieces.prepare(48000.0);
  whole.process(signal.data(), 192000);
  int onsets = 0;
  bool active = false;
  for (int pos = 0, k = 0; pos < 192000; ++k) {
    const int n = std::min((k * 97) % 500 + 1, 192000 - pos);
    pieces.process(signal.data() + pos, n);
    pos += n;
    onsets += pieces.voiceActive() && !active ? 1 : 0;
    active = pieces.voiceActive();
  }
  EXPECT_EQ(4, onsets);
  EXPECT_EQ(whole.backgroundDb(), pieces.backgroundDb());
}

// Verifies the steady -30 dB walk-through: 400 warm-up updates lift the background 0.06 dB each
// to -46 dB, then 0.0075 dB each; voice holds until the background passes -42 dB (about 533
// updates later) and drops exactly 60 updates after the last voiced update.
TEST(LevelTrackerTest, SteadySignalWalkThrough) {
  LevelTracker tracker;
  tracker.prepare(48000.0);
  std::vector<float> background;
  std::vector<bool> voice;
  std::vector<float> block(240, std::sqrt(0.001f));  // mean square -30 dB
  for (int k = 0; k < 1100; ++k) {
    tracker.process(block.data(), 240);
    background.push_back(tracker.backgroundDb());
    voice.push_back(tracker.voiceActive());
  }
  EXPECT_NEAR(-46.0, background[399], 2e-3);
  EXPECT_NEAR(0.0075, background[500] - background[499], 1e-4);
  int lastVoiced = 0;
  while (background[lastVoiced + 1] < -42.0f) ++lastVoiced;
  EXPECT_NEAR(400 + 533, lastVoiced, 2);
  for (int k = 0; k <= lastVoiced + 60; ++k) ASSERT_TRUE(voice[k]) << k;
  EXPECT_FALSE(voice[lastVoiced + 61]);
}

// Verifies digital silence after speech: the background falls to -110 dB and stops, and voice
// drops 60 updates after the last update whose level (the 20 ms mean square decaying from the
// last sample) stood 12 dB above the background and above -62 dB. Afterwards voice needs a
// level above -62 dB, and a level far above the background lifts it only 0.75 dB per second.
TEST(LevelTrackerTest, SilenceDropsBackgroundAndVoice) {
  for (double rate : {16000.0, 48000.0}) {
    SCOPED_TRACE(rate);
    LevelTracker tracker;
    tracker.prepare(rate);
    const int interval = static_cast<int>(rate * 0.005);
    feed(tracker, 0.1f, interval, 100);  // -20 dB
    const double decayDb = 10.0 * std::log10(smoothingCoefficient(20.0, rate)) * interval;
    std::vector<float> zero(interval, 0.0f);
    int lastVoiced = -1, dropped = -1;
    for (int k = 0; k < 3000; ++k) {
      tracker.process(zero.data(), interval);
      const double level = -20.0 + decayDb * (k + 1);
      const double margin = std::min(level - tracker.backgroundDb() - 12.0, level + 62.0);
      ASSERT_GT(std::fabs(margin), 0.05) << k;
      if (margin > 0.0) lastVoiced = k;
      if (!tracker.voiceActive() && dropped < 0) dropped = k;
    }
    EXPECT_EQ(lastVoiced + 61, dropped);
    EXPECT_EQ(-110.0f, tracker.backgroundDb());

    feed(tracker, dbToGain(-63.0f), interval, 200);
    EXPECT_FALSE(tracker.voiceActive());
    feed(tracker, dbToGain(-61.0f), interval, 200);
    EXPECT_TRUE(tracker.voiceActive());
    const std::vector<float> rise = feed(tracker, dbToGain(-30.0f), interval, 250);
    EXPECT_NEAR(0.75, rise[249] - rise[49], 1e-3);
  }
}

}  // namespace
}  // namespace vorlund
