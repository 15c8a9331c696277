// Layer: signal
#include "chain/level_tracker.h"

#include <algorithm>

#include "chain/gain.h"

namespace vorlund {
namespace {

constexpr double kUpdateSeconds = 0.005;
constexpr double kAverageMs = 20.0;
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

}  // namespace vorlund
