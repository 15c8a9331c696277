// Layer: signal
#include "suppressor/voice_effect.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "chain/biquad_cascade.h"
#include "chain/fast_math.h"
#include "chain/numbers.h"

namespace vorlund {
namespace {

// Every section of this stage is a second-order Butterworth at 0 dB.
constexpr double kSectionQ = 0.7071;

// Reverberator buffer lengths are tuned in samples at 44.1 kHz and scaled with the rate.
constexpr double kTuningRate = 44100.0;
constexpr std::array<int, VoiceEffect::kCombCount> kCombTuning = {1116, 1188, 1277, 1356};
constexpr std::array<int, VoiceEffect::kAllpassCount> kAllpassTuning = {556, 441};
constexpr std::int64_t kShortestReverbBuffer = 16;

// The delay line holds the longest echo (0.6 s plus a sample for the fractional read) with
// room to spare.
constexpr double kDelayLineSeconds = 0.7;
constexpr std::int64_t kDelayLineSpare = 4;

std::size_t reverbLength(double rateShare, int tuning) {
  return static_cast<std::size_t>(
      std::max(kShortestReverbBuffer, static_cast<std::int64_t>(rateShare * tuning)));
}

}  // namespace

void VoiceEffect::prepare(double sampleRate) {
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
  kernels_ = &laneKernels(chosenVectorPath());
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
  activeMode_.reset();
  applyModeSettings();
}

std::size_t VoiceEffect::bufferBytes() const noexcept {
  std::size_t bytes = reservedBytes(delayLine_);
  for (const std::vector<float>& b : combBuffers_) bytes += reservedBytes(b);
  for (const std::vector<float>& b : allpassBuffers_) bytes += reservedBytes(b);
  return bytes;
}

void VoiceEffect::configure(const Settings& settings) noexcept {
  mode_ = settings.mode;
  mix_ = settings.mix;
  param_ = settings.param;
  applyModeSettings();
}

// Maps param (0..1) onto each mode's one quantity, computed in double where the result is a
// rate-dependent constant.
void VoiceEffect::applyModeSettings() noexcept {
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
    case VoiceEffectMode::Robot:
      oscStep_ = static_cast<float>((static_cast<double>(p) * kRingHzPerParam + kRingLowestHz) *
                                    kTwoPi / rate);
      combDelay_ = static_cast<float>(
          (static_cast<double>(p) * kCombSecondsPerParam + kCombShortestSeconds) * rate);
      break;
    case VoiceEffectMode::Radio:
      designBiquad(sections_[0], FilterType::HighPass, rate, kWideHighPassHz, 0.0, kSectionQ);
      designBiquad(sections_[1], FilterType::LowPass, rate, kWideLowPassHz, 0.0, kSectionQ);
      designBiquad(sections_[2], FilterType::LowPass, rate, kWideOutputHz, 0.0, kSectionQ);
      drive_ = p * kWideDrivePerParam + kWideLowestDrive;
      driveNorm_ = 1.0f / fastTanh(drive_);
      break;
    case VoiceEffectMode::Telephone:
      designBiquad(sections_[0], FilterType::HighPass, rate, kNarrowHighPassHz, 0.0, kSectionQ);
      designBiquad(sections_[1], FilterType::HighPass, rate, kNarrowHighPassHz, 0.0, kSectionQ);
      designBiquad(sections_[2], FilterType::LowPass, rate, kNarrowLowPassHz, 0.0, kSectionQ);
      designBiquad(sections_[3], FilterType::LowPass, rate, kNarrowLowPassHz, 0.0, kSectionQ);
      drive_ = p + p + kNarrowLowestDrive;
      driveNorm_ = 1.0f / fastTanh(drive_);
      break;
    case VoiceEffectMode::Pitch:
      // Exactly 1 at param 0.5.
      pitchRatio_ = fastExp2((p - 0.5f) * kShiftRangeSemitones / kSemitonesPerOctave);
      break;
    case VoiceEffectMode::Echo:
      echoDelay_ = static_cast<float>(
          (static_cast<double>(p) * kEchoSecondsPerParam + kEchoShortestSeconds) * rate);
      designBiquad(echoFilter_, FilterType::LowPass, rate, kEchoLowPassHz, 0.0, kSectionQ);
      break;
    case VoiceEffectMode::Reverb:
      reverbDamping_ = kReverbDamping;
      reverbFeedback_ = p * kReverbFeedbackPerParam + kReverbLowestFeedback;
      break;
    default:
      break;
  }
}

void VoiceEffect::reset() noexcept {
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

void VoiceEffect::process(float* samples, int count) noexcept {
  if (delayLine_.empty()) return;  // not prepared: nothing to run on
  if (mode_ == VoiceEffectMode::Off || !(mix_ > 0.0f)) {
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
    case VoiceEffectMode::Robot:
      blend([this](float x) { return ringModSample(x); });
      break;
    case VoiceEffectMode::Radio:
    case VoiceEffectMode::Telephone:
      saturate(samples, count, mix, dry);
      break;
    case VoiceEffectMode::Pitch:
      blend([this](float x) { return pitchSample(x); });
      break;
    case VoiceEffectMode::Echo:
      blend([this](float x) { return echoSample(x); });
      break;
    case VoiceEffectMode::Reverb:
      blend([this](float x) { return reverbSample(x); });
      break;
    default:
      blend([](float x) { return x; });
      break;
  }
}

// Linear interpolation `delay` samples behind the write index; every index is masked.
float VoiceEffect::readDelay(float delay) const noexcept {
  const std::int32_t whole = static_cast<std::int32_t>(delay);
  const float fraction = delay - static_cast<float>(whole);
  const float a = delayLine_[static_cast<std::size_t>((delayWrite_ - whole) & delayMask_)];
  const float b = delayLine_[static_cast<std::size_t>((delayWrite_ - whole - 1) & delayMask_)];
  return (b - a) * fraction + a;
}

void VoiceEffect::writeDelay(float value) noexcept {
  delayWrite_ = (delayWrite_ + 1) & delayMask_;
  delayLine_[static_cast<std::size_t>(delayWrite_)] = value;
}

float VoiceEffect::ringModSample(float x) noexcept {
  constexpr float kModulatedGain = 1.4f;
  constexpr float kCombFeedback = 0.55f;
  constexpr float kWetGain = 0.7f;
  oscPhase_ += oscStep_;
  if (oscPhase_ > kTwoPiFloat) oscPhase_ -= kTwoPiFloat;
  const float comb = readDelay(combDelay_);
  const float y = fastSin(oscPhase_) * x * kModulatedGain + comb * kCombFeedback;
  writeDelay(y);
  return y * kWetGain;
}

// Modes 2 and 3, a chunk of the block at a time so that each step runs as a pass of its own:
// the filter sections before the drive (skewed, so they run side by side), the saturation, the
// output section of mode 2, then the blend. Every sample goes through the same operations in
// the same order as one sample at a time would: band-limited saturation is high-pass 450 Hz,
// low-pass 2800 Hz, tanh drive, low-pass 3200 Hz; narrow-band saturation is two high-pass
// 300 Hz, two low-pass 3400 Hz, then tanh drive.
void VoiceEffect::saturate(float* samples, int count, float mix, float dry) noexcept {
  constexpr int kChunk = 256;
  constexpr float kWideWetGain = 0.6f;
  constexpr float kNarrowWetGain = 0.8f;
  const bool wide = mode_ == VoiceEffectMode::Radio;
  BiquadSection* const sections[] = {&sections_[0], &sections_[1], &sections_[2], &sections_[3]};
  const float drive = drive_;
  const float driveNorm = driveNorm_;
  const float wetGain = wide ? kWideWetGain : kNarrowWetGain;
  float wet[kChunk];
  for (int start = 0; start < count; start += kChunk) {
    float* dryPart = samples + start;
    const int n = std::min(kChunk, count - start);
    std::copy(dryPart, dryPart + n, wet);
    if (wide) {
      LocalCascade<2>(sections).processBlock(wet, n);
    } else {
      LocalCascade<4>(sections).processBlock(wet, n);
    }
    kernels_->saturate(wet, n, drive, driveNorm, wetGain);
    if (wide) {
      LocalCascade<1> output(sections + 2);
      for (int i = 0; i < n; ++i) dryPart[i] = output.process(wet[i]) * mix + dryPart[i] * dry;
    } else {
      for (int i = 0; i < n; ++i) dryPart[i] = wet[i] * mix + dryPart[i] * dry;
    }
  }
}

// Two taps half a window apart sweep the window at the rate the ratio needs; each fades in
// and out with sin^2, and the two weights always sum to 1.
float VoiceEffect::pitchSample(float x) noexcept {
  writeDelay(x);
  pitchPhase_ += (1.0f - pitchRatio_) / pitchWindow_;
  if (pitchPhase_ >= 1.0f) pitchPhase_ -= 1.0f;
  if (pitchPhase_ < 0.0f) pitchPhase_ += 1.0f;
  float otherPhase = pitchPhase_ + 0.5f;
  if (otherPhase >= 1.0f) otherPhase -= 1.0f;
  const float g1 = fastSin(pitchPhase_ * kPiFloat);
  const float g2 = fastSin(otherPhase * kPiFloat);
  const float t1 = readDelay(pitchPhase_ * pitchWindow_);
  const float t2 = readDelay(otherPhase * pitchWindow_);
  return t1 * g1 * g1 + t2 * g2 * g2;
}

// The wet signal carries the dry voice at unit gain plus the repeats.
float VoiceEffect::echoSample(float x) noexcept {
  constexpr float kFeedback = 0.45f;
  const float echo = readDelay(echoDelay_);
  writeDelay(echoFilter_.process(echo) * kFeedback + x);
  return echo + x;
}

// Four damped feedback combs in parallel, then two allpasses in series; the wet signal
// carries the dry voice at unit gain.
float VoiceEffect::reverbSample(float x) noexcept {
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

}  // namespace vorlund
