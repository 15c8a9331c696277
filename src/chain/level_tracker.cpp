// Layer: signal
#include "chain/level_tracker.h"

#include <algorithm>

#include "chain/gain.h"

namespace vorlund {
namespace {

constexpr double kUpdateSeconds = 0.005;
constexpr double kAverageMs = 20.0;
constexpr float kStartBackgroundDb = -70.0f;
constexpr float kLowestBackgroundDb = -110.0f;
constexpr float kHighestBackgroundDb = -10.0f;
// 400 updates of 5 ms: the first 2 s learn the background quickly.
constexpr int kWarmupUpdates = 400;
// 60 updates of 5 ms: the voice flag outlives the last voiced update by 300 ms.
constexpr int kHangUpdates = 60;
// Rise rates of the background in dB per second: fast while warming up, slow afterwards, and
// slower still while the level stands far above it (speech should hardly lift it).
constexpr float kWarmupRiseDbPerSecond = 12.0f;
constexpr float kRiseDbPerSecond = 1.5f;
constexpr float kSlowRiseDbPerSecond = 0.75f;
constexpr float kFarAboveDb = 20.0f;
// Seconds per update, turning a rate per second into a step per update.
constexpr float kStepSeconds = 0.005f;
// Share of the gap the background falls per update when the level is below it.
constexpr float kFallShare = 0.05f;
constexpr float kVoiceMarginDb = 12.0f;
constexpr float kVoiceFloorDb = -62.0f;

}  // namespace

void LevelTracker::prepare(double sampleRate) noexcept {
  coefficient_ = smoothingCoefficient(kAverageMs, sampleRate);
  interval_ = std::max(1, static_cast<int>(sampleRate * kUpdateSeconds));
  reset();
}

void LevelTracker::reset() noexcept {
  meanSquare_ = 0.0f;
  backgroundDb_ = kStartBackgroundDb;
  counter_ = 0;
  hangCounter_ = 0;
  warmup_ = kWarmupUpdates;
  voiceActive_ = false;
}

void LevelTracker::process(const float* samples, int count) noexcept {
  // A local copy keeps the state in registers: the samples cannot alias it.
  LevelTracker tracker = *this;
  for (int i = 0; i < count; ++i) tracker.process(samples[i]);
  *this = tracker;
}

void LevelTracker::updateLevel() noexcept {
  counter_ = 0;
  const float levelDb = meanSquareToDb(meanSquare_);
  float rise;
  if (warmup_ > 0) {
    --warmup_;
    rise = kWarmupRiseDbPerSecond;
  } else {
    rise = levelDb - backgroundDb_ > kFarAboveDb ? kSlowRiseDbPerSecond : kRiseDbPerSecond;
  }
  if (backgroundDb_ > levelDb) {
    backgroundDb_ += (levelDb - backgroundDb_) * kFallShare;
  } else {
    backgroundDb_ += std::min(rise * kStepSeconds, levelDb - backgroundDb_);
  }
  backgroundDb_ = std::clamp(backgroundDb_, kLowestBackgroundDb, kHighestBackgroundDb);

  if (levelDb > backgroundDb_ + kVoiceMarginDb && levelDb > kVoiceFloorDb) {
    hangCounter_ = kHangUpdates;
    voiceActive_ = true;
  } else if (hangCounter_ > 0) {
    --hangCounter_;
  } else {
    voiceActive_ = false;
  }
}

}  // namespace vorlund
