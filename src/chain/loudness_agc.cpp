// Layer: signal
#include "chain/loudness_agc.h"

#include <algorithm>

#include "chain/gain.h"

namespace vorlund {
namespace {

// K-weighting as two cookbook sections: the head's high-frequency shelf, then the low cut.
// BS.1770 gives both filters only as coefficients at 48 kHz; solving the bilinear transform
// backwards for their analogue prototypes gives the shelf's corner (1681.97 Hz), gain
// (+3.9998 dB) and Q (0.7071752, within 1e-4 of a Butterworth 1/sqrt 2), and the RLB
// high-pass's corner (38.13547 Hz) and Q (0.500327), so the same pair can be designed at any
// rate. Rounded to these figures and designed as cookbook sections, whose shelf shape is not
// BS.1770's, the weighting is 0.27 dB off at 1 kHz: close enough to steer a gain (the
// loudness meter of the tools keeps the exact form).
constexpr double kShelfHz = 1681.97;
constexpr double kShelfGainDb = 3.9998;
constexpr double kShelfQ = 0.7071752;
constexpr double kLowCutHz = 38.13547;
constexpr double kLowCutQ = 0.500327;
constexpr double kAverageMs = 400.0;
// BS.1770 offset from K-weighted mean square to loudness.
constexpr float kLoudnessOffsetDb = 0.691f;
// Quieter than this the measure is background, not voice worth steering.
constexpr float kQuietestLoudness = -65.0f;
constexpr float kLowestGainDb = -12.0f;
constexpr float kSlowestDbPerSecond = 1.0f;
constexpr float kSpeedSpanDbPerSecond = 9.0f;
// The gain may fall this many times faster than it may rise.
constexpr float kFallFactor = 2.0f;
// Disabled, the gain closes this share of its distance to 0 dB per second of audio (a time
// constant of about 50 ms), at most all of it in one block.
constexpr float kDecayPerSecond = 20.0f;

}  // namespace

void LoudnessAgc::prepare(double sampleRate) noexcept {
  sampleRate_ = sampleRate;
  designBiquad(shelf_, FilterType::HighShelf, sampleRate, kShelfHz, kShelfGainDb, kShelfQ);
  designBiquad(highPass_, FilterType::HighPass, sampleRate, kLowCutHz, 0.0, kLowCutQ);
  coefficient_ = smoothingCoefficient(kAverageMs, sampleRate);
  reset();
}

void LoudnessAgc::configure(const Settings& settings) noexcept {
  const auto [enabled, targetDb, maxGainDb, speed] = settings;
  enabled_ = enabled;
  targetLoudness_ = targetDb;
  maxGainDb_ = maxGainDb;
  ratePerSecond_ = kSlowestDbPerSecond + kSpeedSpanDbPerSecond * std::clamp(speed, 0.0f, 1.0f);
}

void LoudnessAgc::reset() noexcept {
  shelf_.reset();
  highPass_.reset();
  meanSquare_ = 0.0f;
  gainDb_ = 0.0f;
  currentGain_ = 1.0f;
}

void LoudnessAgc::process(float* samples, int count, bool voiceActive) noexcept {
  if (count <= 0) return;
  // A local copy keeps the filter state in registers: the samples cannot alias it.
  LoudnessAgc stage = *this;
  for (int i = 0; i < count; ++i) stage.measure(samples[i]);
  *this = stage;
  Ramp ramp = finishBlock(count, voiceActive);
  if (ramp.isUnity()) return;
  for (int i = 0; i < count; ++i) samples[i] = ramp.apply(samples[i]);
}

LoudnessAgc::Ramp LoudnessAgc::finishBlock(int count, bool voiceActive) noexcept {
  const float seconds = static_cast<float>(count / sampleRate_);
  if (enabled_) {
    const float loudness = meanSquareToDb(meanSquare_) - kLoudnessOffsetDb;
    if (voiceActive && loudness > kQuietestLoudness) {
      const float step = seconds * ratePerSecond_;
      // Judged against the loudness this stage will produce, not the one it receives.
      const float error = targetLoudness_ - (loudness + gainDb_);
      const float fastestFall = -kFallFactor * step;
      gainDb_ += fastestFall > error ? fastestFall : std::min(step, error);
    }
    gainDb_ = gainDb_ < kLowestGainDb ? kLowestGainDb : std::min(maxGainDb_, gainDb_);
  } else {
    gainDb_ += std::min(kDecayPerSecond * seconds, 1.0f) * -gainDb_;
  }

  const float target = dbToGain(gainDb_);
  const Ramp ramp{currentGain_, (target - currentGain_) / static_cast<float>(count)};
  currentGain_ = target;
  return ramp;
}

}  // namespace vorlund
