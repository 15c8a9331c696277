// The voice effect as it was before its saturation modes were restructured into passes over
// chunks of the block: every mode one sample at a time on its members. The product must match
// it bit for bit in every mode.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "chain/biquad.h"
#include "chain/fast_math.h"
#include "suppressor/voice_effect.h"

namespace vorlund::reference {
namespace voice_effect_detail {

constexpr int kCombs = 4;
constexpr int kAllpasses = 2;

// Every section of this stage is a second-order Butterworth at 0 dB.
constexpr double kSectionQ = 0.7071;

constexpr float kTwoPi = 6.2831855f;
constexpr float kPi = 3.1415927f;

// Reverberator buffer lengths are tuned in samples at 44.1 kHz and scaled with the rate.
constexpr double kTuningRate = 44100.0;
constexpr std::array<int, kCombs> kCombTuning = {1116, 1188, 1277, 1356};
constexpr std::array<int, kAllpasses> kAllpassTuning = {556, 441};
constexpr std::int64_t kShortestReverbBuffer = 16;

// The delay line holds the longest echo (0.6 s plus a sample for the fractional read) with
// room to spare.
constexpr double kDelayLineSeconds = 0.7;
constexpr std::int64_t kDelayLineSpare = 4;

inline std::size_t reverbLength(double rateShare, int tuning) {
  return static_cast<std::size_t>(
      std::max(kShortestReverbBuffer, static_cast<std::int64_t>(rateShare * tuning)));
}

class ReferenceVoiceEffect {
 public:
  static constexpr int kCombCount = 4;
  static constexpr int kAllpassCount = 2;

  // Configuration thread; allocates and clears every buffer for the rate, then applies the
  // stored mode's settings. The first active block afterwards starts from cleared state.
  void prepare(double sampleRate);
  // Either thread, between blocks; stores the settings (mode 0..6, mix and param 0..1) and
  // computes the mode's coefficients. Clears nothing.
  void configure(const VoiceEffect::Settings& settings) noexcept;
  // Real-time thread; one mono block in place.
  void process(float* samples, int count) noexcept;

  int delayLength() const noexcept { return static_cast<int>(delayLine_.size()); }
  int combLength(int i) const noexcept { return combLength_[i]; }
  int allpassLength(int i) const noexcept { return allpassLength_[i]; }

 private:
  void applyModeSettings() noexcept;
  void reset() noexcept;
  float readDelay(float delay) const noexcept;
  void writeDelay(float value) noexcept;
  float ringModSample(float x) noexcept;
  float wideSaturationSample(float x) noexcept;
  float narrowSaturationSample(float x) noexcept;
  float pitchSample(float x) noexcept;
  float echoSample(float x) noexcept;
  float reverbSample(float x) noexcept;

  double sampleRate_ = 48000.0;
  std::int32_t mode_ = 0;
  std::int32_t activeMode_ = -1;
  float mix_ = 0.5f;
  float param_ = 0.5f;

  std::vector<float> delayLine_;  // sized in prepare(), a power of two
  std::int32_t delayMask_ = 0;
  std::int32_t delayWrite_ = 0;
  std::array<BiquadSection, 4> sections_{};
  BiquadSection echoFilter_{};

  float oscPhase_ = 0.0f;
  float oscStep_ = 0.0f;
  float combDelay_ = 0.0f;
  float drive_ = 1.0f;
  float driveNorm_ = 1.0f;
  float pitchRatio_ = 1.0f;
  float pitchPhase_ = 0.0f;
  float pitchWindow_ = 0.0f;
  float echoDelay_ = 0.0f;
  float reverbFeedback_ = 0.0f;
  float reverbDamping_ = 0.0f;

  std::array<std::vector<float>, kCombCount> combBuffers_;        // sized in prepare()
  std::array<std::vector<float>, kAllpassCount> allpassBuffers_;  // sized in prepare()
  std::array<std::int32_t, kCombCount> combLength_{};
  std::array<std::int32_t, kCombCount> combPos_{};
  std::array<std::int32_t, kAllpassCount> allpassLength_{};
  std::array<std::int32_t, kAllpassCount> allpassPos_{};
  std::array<float, kCombCount> combStore_{};
};

inline void ReferenceVoiceEffect::prepare(double sampleRate) {
  // Mode 4 sweeps its two taps across this window.
  constexpr double kPitchWindowSeconds = 0.04;

  // Every buffer is allocated before any member changes, so a failed allocation leaves the
  // stage as it was.
  const double usableRate = sampleRate > 0.0 ? sampleRate : 0.0;
  const double rateShare = usableRate / kTuningRate;
  std::array<std::vector<float>, kCombCount> combs;
  std::array<std::vector<float>, kAllpassCount> allpasses;
  for (int c = 0; c < kCombCount; ++c) combs[c].resize(reverbLength(rateShare, kCombTuning[c]));
  for (int a = 0; a < kAllpassCount; ++a)
    allpasses[a].resize(reverbLength(rateShare, kAllpassTuning[a]));
  const std::int64_t needed =
      kDelayLineSpare + static_cast<std::int64_t>(kDelayLineSeconds * usableRate);
  std::int64_t length = 1;
  while (length < needed) length *= 2;
  std::vector<float> delayLine(static_cast<std::size_t>(length));

  sampleRate_ = sampleRate;
  for (int c = 0; c < kCombCount; ++c) {
    combBuffers_[c] = std::move(combs[c]);
    combLength_[c] = static_cast<std::int32_t>(combBuffers_[c].size());
  }
  for (int a = 0; a < kAllpassCount; ++a) {
    allpassBuffers_[a] = std::move(allpasses[a]);
    allpassLength_[a] = static_cast<std::int32_t>(allpassBuffers_[a].size());
  }
  delayLine_ = std::move(delayLine);
  delayMask_ = static_cast<std::int32_t>(length - 1);
  delayWrite_ = 0;
  pitchWindow_ = static_cast<float>(sampleRate * kPitchWindowSeconds);

  reset();
  activeMode_ = -1;
  applyModeSettings();
}

inline void ReferenceVoiceEffect::configure(const VoiceEffect::Settings& settings) noexcept {
  mode_ = static_cast<int>(settings.mode);
  mix_ = settings.mix;
  param_ = settings.param;
  applyModeSettings();
}

// Maps param (0..1) onto each mode's one quantity, computed in double where the result is a
// rate-dependent constant.
inline void ReferenceVoiceEffect::applyModeSettings() noexcept {
  constexpr double kRingLowestHz = 30.0, kRingHzPerParam = 90.0;
  constexpr double kCombShortestSeconds = 0.004, kCombSecondsPerParam = 0.008;
  constexpr double kWideHighPassHz = 450.0, kWideLowPassHz = 2800.0, kWideOutputHz = 3200.0;
  constexpr float kWideLowestDrive = 2.0f, kWideDrivePerParam = 10.0f;
  constexpr double kNarrowHighPassHz = 300.0, kNarrowLowPassHz = 3400.0;
  constexpr float kNarrowLowestDrive = 1.5f;  // rising by 2 per unit of param
  constexpr float kShiftRangeSemitones = 24.0f, kSemitonesPerOctave = 12.0f;
  constexpr double kEchoShortestSeconds = 0.12, kEchoSecondsPerParam = 0.48;
  constexpr double kEchoLowPassHz = 4000.0;
  constexpr float kReverbDamping = 0.35f;
  constexpr float kReverbLowestFeedback = 0.7f, kReverbFeedbackPerParam = 0.27f;

  const double rate = sampleRate_;
  const float p = param_;
  switch (mode_) {
    case 1:
      oscStep_ =
          static_cast<float>((p * kRingHzPerParam + kRingLowestHz) * 6.283185307179586 / rate);
      combDelay_ = static_cast<float>((p * kCombSecondsPerParam + kCombShortestSeconds) * rate);
      break;
    case 2:
      designBiquad(sections_[0], FilterType::HighPass, rate, kWideHighPassHz, 0.0, kSectionQ);
      designBiquad(sections_[1], FilterType::LowPass, rate, kWideLowPassHz, 0.0, kSectionQ);
      designBiquad(sections_[2], FilterType::LowPass, rate, kWideOutputHz, 0.0, kSectionQ);
      drive_ = p * kWideDrivePerParam + kWideLowestDrive;
      driveNorm_ = 1.0f / fastTanh(drive_);
      break;
    case 3:
      designBiquad(sections_[0], FilterType::HighPass, rate, kNarrowHighPassHz, 0.0, kSectionQ);
      designBiquad(sections_[1], FilterType::HighPass, rate, kNarrowHighPassHz, 0.0, kSectionQ);
      designBiquad(sections_[2], FilterType::LowPass, rate, kNarrowLowPassHz, 0.0, kSectionQ);
      designBiquad(sections_[3], FilterType::LowPass, rate, kNarrowLowPassHz, 0.0, kSectionQ);
      drive_ = p + p + kNarrowLowestDrive;
      driveNorm_ = 1.0f / fastTanh(drive_);
      break;
    case 4:
      // Exactly 1 at param 0.5.
      pitchRatio_ = fastExp2((p - 0.5f) * kShiftRangeSemitones / kSemitonesPerOctave);
      break;
    case 5:
      echoDelay_ = static_cast<float>((p * kEchoSecondsPerParam + kEchoShortestSeconds) * rate);
      designBiquad(echoFilter_, FilterType::LowPass, rate, kEchoLowPassHz, 0.0, kSectionQ);
      break;
    case 6:
      reverbDamping_ = kReverbDamping;
      reverbFeedback_ = p * kReverbFeedbackPerParam + kReverbLowestFeedback;
      break;
    default:
      break;
  }
}

inline void ReferenceVoiceEffect::reset() noexcept {
  activeMode_ = mode_;
  std::fill(delayLine_.begin(), delayLine_.end(), 0.0f);
  for (std::vector<float>& b : combBuffers_) std::fill(b.begin(), b.end(), 0.0f);
  for (std::vector<float>& b : allpassBuffers_) std::fill(b.begin(), b.end(), 0.0f);
  combPos_.fill(0);
  allpassPos_.fill(0);
  combStore_.fill(0.0f);
  for (BiquadSection& s : sections_) s.reset();
  echoFilter_.reset();
  oscPhase_ = 0.0f;
  pitchPhase_ = 0.0f;
}

inline void ReferenceVoiceEffect::process(float* samples, int count) noexcept {
  if (delayLine_.empty()) return;  // not prepared: nothing to run on
  if (mode_ == 0 || !(mix_ > 0.0f)) {
    activeMode_ = mode_;
    return;
  }
  if (activeMode_ != mode_) reset();

  const float mix = mix_;
  const float dry = 1.0f - mix;
  auto blend = [&](auto wetOf) {
    for (int i = 0; i < count; ++i) {
      const float x = samples[i];
      samples[i] = wetOf(x) * mix + x * dry;
    }
  };
  switch (mode_) {
    case 1:
      blend([this](float x) { return ringModSample(x); });
      break;
    case 2:
      blend([this](float x) { return wideSaturationSample(x); });
      break;
    case 3:
      blend([this](float x) { return narrowSaturationSample(x); });
      break;
    case 4:
      blend([this](float x) { return pitchSample(x); });
      break;
    case 5:
      blend([this](float x) { return echoSample(x); });
      break;
    case 6:
      blend([this](float x) { return reverbSample(x); });
      break;
    default:
      blend([](float x) { return x; });
      break;
  }
}

// Linear interpolation `delay` samples behind the write index; every index is masked.
inline float ReferenceVoiceEffect::readDelay(float delay) const noexcept {
  const std::int32_t whole = static_cast<std::int32_t>(delay);
  const float fraction = delay - static_cast<float>(whole);
  const float a = delayLine_[static_cast<std::size_t>((delayWrite_ - whole) & delayMask_)];
  const float b = delayLine_[static_cast<std::size_t>((delayWrite_ - whole - 1) & delayMask_)];
  return (b - a) * fraction + a;
}

inline void ReferenceVoiceEffect::writeDelay(float value) noexcept {
  delayWrite_ = (delayWrite_ + 1) & delayMask_;
  delayLine_[static_cast<std::size_t>(delayWrite_)] = value;
}

inline float ReferenceVoiceEffect::ringModSample(float x) noexcept {
  constexpr float kModulatedGain = 1.4f;
  constexpr float kCombFeedback = 0.55f;
  constexpr float kWetGain = 0.7f;
  oscPhase_ += oscStep_;
  if (oscPhase_ > kTwoPi) oscPhase_ -= kTwoPi;
  const float comb = readDelay(combDelay_);
  const float y = fastSin(oscPhase_) * x * kModulatedGain + comb * kCombFeedback;
  writeDelay(y);
  return y * kWetGain;
}

inline float ReferenceVoiceEffect::wideSaturationSample(float x) noexcept {
  constexpr float kWetGain = 0.6f;
  const float y = sections_[1].process(sections_[0].process(x));
  const float z = fastTanh(y * drive_) * driveNorm_ * kWetGain;
  return sections_[2].process(z);
}

inline float ReferenceVoiceEffect::narrowSaturationSample(float x) noexcept {
  constexpr float kWetGain = 0.8f;
  float y = x;
  for (BiquadSection& s : sections_) y = s.process(y);
  return fastTanh(y * drive_) * driveNorm_ * kWetGain;
}

// Two taps half a window apart sweep the window at the rate the ratio needs; each fades in
// and out with sin^2, and the two weights always sum to 1.
inline float ReferenceVoiceEffect::pitchSample(float x) noexcept {
  writeDelay(x);
  pitchPhase_ += (1.0f - pitchRatio_) / pitchWindow_;
  if (pitchPhase_ >= 1.0f) pitchPhase_ -= 1.0f;
  if (pitchPhase_ < 0.0f) pitchPhase_ += 1.0f;
  float otherPhase = pitchPhase_ + 0.5f;
  if (otherPhase >= 1.0f) otherPhase -= 1.0f;
  const float g1 = fastSin(pitchPhase_ * kPi);
  const float g2 = fastSin(otherPhase * kPi);
  const float t1 = readDelay(pitchPhase_ * pitchWindow_);
  const float t2 = readDelay(otherPhase * pitchWindow_);
  return t1 * g1 * g1 + t2 * g2 * g2;
}

// The wet signal carries the dry voice at unit gain plus the repeats.
inline float ReferenceVoiceEffect::echoSample(float x) noexcept {
  constexpr float kFeedback = 0.45f;
  const float echo = readDelay(echoDelay_);
  writeDelay(echoFilter_.process(echo) * kFeedback + x);
  return echo + x;
}

// Four damped feedback combs in parallel, then two allpasses in series; the wet signal
// carries the dry voice at unit gain.
inline float ReferenceVoiceEffect::reverbSample(float x) noexcept {
  constexpr float kInputGain = 0.06f;
  constexpr float kAllpassFeedback = 0.5f;
  constexpr float kTailGain = 2.5f;
  const float in = x * kInputGain;
  const float damping = reverbDamping_;
  const float feedback = reverbFeedback_;
  std::array<float, kCombCount> out;
  for (int c = 0; c < kCombCount; ++c) {
    float* buffer = combBuffers_[c].data();
    std::int32_t& pos = combPos_[c];
    out[c] = buffer[pos];
    combStore_[c] = (1.0f - damping) * out[c] + damping * combStore_[c];
    buffer[pos] = combStore_[c] * feedback + in;
    if (++pos == combLength_[c]) pos = 0;
  }
  float s = ((out[0] + out[1]) + out[2]) + out[3];
  for (int a = 0; a < kAllpassCount; ++a) {
    float* buffer = allpassBuffers_[a].data();
    std::int32_t& pos = allpassPos_[a];
    const float b = buffer[pos];
    buffer[pos] = b * kAllpassFeedback + s;
    s = b - s;
    if (++pos == allpassLength_[a]) pos = 0;
  }
  return s * kTailGain + x;
}

}  // namespace voice_effect_detail

using voice_effect_detail::ReferenceVoiceEffect;

}  // namespace vorlund::reference
