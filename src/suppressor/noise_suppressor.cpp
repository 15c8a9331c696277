#include "suppressor/noise_suppressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "chain/gain.h"

namespace vorlund {
namespace {

// Keeps every bin power positive, so the noise estimate and the ratios below stay finite.
constexpr float kPowerFloor = 1e-20f;
// Speech presence from the likelihood ratio under a fixed a-priori SNR of 15 dB:
// 1 + 10^1.5 and 10^1.5 / (1 + 10^1.5).
constexpr float kPresenceOdds = 32.622776f;
constexpr float kPresenceScale = 0.96934658f;
constexpr float kMaxExponent = 80.0f;
// Above this average presence a bin counts as stuck on speech: its presence is capped so that
// its noise estimate keeps moving.
constexpr float kStagnationLimit = 0.99f;
// The noise estimate may sit at most this factor above the tracked minimum.
constexpr float kMinimumHeadroom = 4.0f;
constexpr float kMinXi = 1e-4f;
// Frames whose power falls below this have no meaningful suppression ratio; the meter itself
// bottoms out at -120 dB.
constexpr double kSilentPower = 1e-12;
constexpr double kMeterFloor = 1e-12;

// Whole frames in `seconds` of frames of `period` seconds, truncated; 0 for a degenerate rate.
int framesIn(double seconds, double period) noexcept {
  const double frames = seconds / period;
  if (!(frames > 0.0)) return 0;
  if (frames >= static_cast<double>(NoiseSuppressor::kMaxFrameCount))
    return NoiseSuppressor::kMaxFrameCount;
  return static_cast<int>(frames);
}

}  // namespace

int NoiseSuppressor::frameSizeForRate(double sampleRate) noexcept {
  if (sampleRate <= 25000.0) return 256;
  if (sampleRate <= 50000.0) return 512;
  if (sampleRate <= 100000.0) return 1024;
  return 2048;
}

void NoiseSuppressor::prepare(double sampleRate) {
  constexpr double kTwoPi = 6.283185307179586;
  // Estimator periods and time constants.
  constexpr double kInitialSeconds = 0.25;
  constexpr double kSubwindowSeconds = 0.625;
  constexpr double kSmoothMs = 76.0;
  constexpr double kNoiseMs = 35.8;
  constexpr double kPresenceMs = 75.9;
  constexpr double kDecisionMs = 396.0;
  constexpr double kGainAttackMs = 3.0;
  constexpr double kGainReleaseMs = 70.0;

  const int n = frameSizeForRate(sampleRate);
  frameSize_ = n;
  hop_ = n >> 2;
  binCount_ = n / 2 + 1;
  fft_.setup(n);

  // Square root of the periodic Hann window, applied at analysis and at synthesis.
  window_.resize(n);
  for (int i = 0; i < n; ++i)
    window_[i] = static_cast<float>(std::sqrt(0.5 - 0.5 * std::cos(kTwoPi * i / n)));

  inputFrame_.assign(n, 0.0f);
  outputHop_.assign(hop_, 0.0f);
  overlapAdd_.assign(n, 0.0f);
  re_.assign(n, 0.0f);
  im_.assign(n, 0.0f);
  const int bins = binCount_;
  power_.assign(bins, 0.0f);
  noise_.assign(bins, 0.0f);
  presenceAvg_.assign(bins, 0.0f);
  gain_.assign(bins, 1.0f);
  smoothGain_.assign(bins, 1.0f);
  prevClean_.assign(bins, 0.0f);
  smoothedPower_.assign(bins, 0.0f);
  currentMin_.assign(bins, 0.0f);
  minRing_.assign(static_cast<std::size_t>(kRingSlots) * bins, 0.0f);
  ringSlot_ = 0;

  // Every coefficient is exp(-T / tau) with the frame period T = H / fs: the smoothing rule
  // of the chain at the frame rate.
  const double framePeriod = hop_ / sampleRate;
  const double frameRate = sampleRate / hop_;
  initFrames_ = framesIn(kInitialSeconds, framePeriod);
  subwindowFrames_ = std::max(1, framesIn(kSubwindowSeconds, framePeriod));
  alphaSmooth_ = smoothingCoefficient(kSmoothMs, frameRate);
  alphaNoise_ = smoothingCoefficient(kNoiseMs, frameRate);
  alphaPresence_ = smoothingCoefficient(kPresenceMs, frameRate);
  alphaDecision_ = smoothingCoefficient(kDecisionMs, frameRate);
  gainSmoothing_.set(kGainAttackMs, kGainReleaseMs, frameRate);

  reset();
}

void NoiseSuppressor::configure(bool enabled, float reductionDb, float strength) noexcept {
  constexpr float kMaxReductionDb = 60.0f;
  constexpr float kOverSubtractionSpan = 1.7f;
  constexpr float kMinOverSubtraction = 0.8f;
  enabled_ = enabled;
  const float reduction = reductionDb < 0.0f ? 0.0f : std::min(kMaxReductionDb, reductionDb);
  floorGain_ = dbToGain(-reduction);
  overSubtraction_ =
      std::min(1.0f, std::max(0.0f, strength)) * kOverSubtractionSpan + kMinOverSubtraction;
}

void NoiseSuppressor::reset() noexcept {
  std::fill(inputFrame_.begin(), inputFrame_.end(), 0.0f);
  std::fill(outputHop_.begin(), outputHop_.end(), 0.0f);
  std::fill(overlapAdd_.begin(), overlapAdd_.end(), 0.0f);
  frameCount_ = 0;
  writePos_ = frameSize_ - hop_;
  // The minima need no clearing: the last initial frame sets them before they are read.
  std::fill(noise_.begin(), noise_.end(), 0.0f);
  std::fill(presenceAvg_.begin(), presenceAvg_.end(), 0.0f);
  std::fill(gain_.begin(), gain_.end(), 1.0f);
  std::fill(smoothGain_.begin(), smoothGain_.end(), 1.0f);
  std::fill(prevClean_.begin(), prevClean_.end(), 0.0f);
  subwindowCount_ = 0;
  suppressionDb_ = 0.0f;
}

void NoiseSuppressor::processFrame() noexcept {
  const int n = frameSize_;
  const int hop = hop_;
  const float* window = window_.data();
  float* re = re_.data();
  float* im = im_.data();
  float* frame = inputFrame_.data();
  float* overlap = overlapAdd_.data();

  for (int i = 0; i < n; ++i) {
    re[i] = frame[i] * window[i];
    im[i] = 0.0f;
  }
  fft_.transform(re, im, false);
  shapeSpectrum();
  fft_.transform(re, im, true);

  // The four overlapping squared windows sum to 2, hence the half.
  for (int i = 0; i < n; ++i) overlap[i] += window[i] * re[i] * 0.5f;
  std::memcpy(outputHop_.data(), overlap, sizeof(float) * hop);
  std::memmove(overlap, overlap + hop, sizeof(float) * (n - hop));
  std::fill(overlap + (n - hop), overlap + n, 0.0f);
  // The last hop of the input is overwritten by the next samples before it is read again.
  std::memmove(frame, frame + hop, sizeof(float) * (n - hop));

  if (frameCount_ < kMaxFrameCount) frameCount_ += 1;
}

void NoiseSuppressor::shapeSpectrum() noexcept {
  const int bins = binCount_;
  const int nyquist = bins - 1;
  const int n = frameSize_;
  float* re = re_.data();
  float* im = im_.data();
  float* power = power_.data();
  float* noise = noise_.data();
  float* presenceAvg = presenceAvg_.data();
  float* gain = gain_.data();
  float* smoothGain = smoothGain_.data();
  float* prevClean = prevClean_.data();
  float* smoothedPower = smoothedPower_.data();
  float* currentMin = currentMin_.data();
  float* ring = minRing_.data();

  const std::int32_t frames = frameCount_;
  const bool inInit = frames < initFrames_;
  const bool lastInitFrame = frames == initFrames_ - 1;
  bool subwindowEnd = false;
  if (!inInit && ++subwindowCount_ >= subwindowFrames_) {
    subwindowCount_ = 0;
    subwindowEnd = true;
  }
  float* ringRow = ring + static_cast<std::size_t>(ringSlot_) * bins;

  const float alphaPresence = alphaPresence_;
  const float alphaNoise = alphaNoise_;
  const float alphaSmooth = alphaSmooth_;
  const float alphaDecision = alphaDecision_;
  const float overSubtraction = overSubtraction_;

  for (int k = 0; k < bins; ++k) {
    const float p = im[k] * im[k] + re[k] * re[k] + kPowerFloor;
    power[k] = p;
    float estimate = noise[k];
    if (inInit) {
      // Running mean of the frame powers since the (re)start.
      estimate = frames == 0 ? p : estimate + (p - estimate) / static_cast<float>(frames + 1);
      if (lastInitFrame) {
        currentMin[k] = estimate;
        smoothedPower[k] = estimate;
        for (int s = 0; s < kRingSlots; ++s) ring[s * bins + k] = estimate;
      }
    } else {
      float presence =
          1.0f /
          (1.0f + kPresenceOdds * std::exp(-std::min(kMaxExponent, kPresenceScale * p / estimate)));
      presenceAvg[k] = (1.0f - alphaPresence) * presence + alphaPresence * presenceAvg[k];
      if (presenceAvg[k] > kStagnationLimit) presence = std::min(kStagnationLimit, presence);
      estimate = ((1.0f - presence) * p + presence * estimate) * (1.0f - alphaNoise) +
                 alphaNoise * estimate;

      const float smoothed = (1.0f - alphaSmooth) * p + alphaSmooth * smoothedPower[k];
      smoothedPower[k] = smoothed;
      if (currentMin[k] > smoothed) currentMin[k] = smoothed;
      float minimum = currentMin[k];
      for (int s = 0; s < kRingSlots; ++s) minimum = std::min(minimum, ring[s * bins + k]);
      estimate = std::min(kMinimumHeadroom * minimum, estimate);
      if (subwindowEnd) {
        ringRow[k] = currentMin[k];
        currentMin[k] = smoothed;
      }
    }
    noise[k] = estimate;

    // Wiener gain on the decision-directed a-priori SNR.
    const float scaledNoise = estimate * overSubtraction + kPowerFloor;
    float xi = (1.0f - alphaDecision) * std::max(0.0f, p / scaledNoise - 1.0f) +
               (alphaDecision * prevClean[k]) / scaledNoise;
    xi = std::max(kMinXi, xi);
    const float g = xi / (xi + 1.0f);
    gain[k] = g;
    prevClean[k] = g * g * p;
  }
  if (subwindowEnd) ringSlot_ = (ringSlot_ + 1) % kRingSlots;

  // Smooth the raw gains over neighbouring bins and over time, then apply them to each bin
  // and its mirror so the spectrum stays conjugate-symmetric.
  const float floorGain = floorGain_;
  const bool enabled = enabled_;
  double kept = 0.0;
  double total = 0.0;
  for (int k = 0; k < bins; ++k) {
    const float spread =
        0.5f * gain[k] + 0.25f * gain[std::max(k - 1, 0)] + 0.25f * gain[std::min(k + 1, nyquist)];
    const float target = enabled ? std::max(floorGain, spread) : 1.0f;
    const float g = gainSmoothing_.follow(smoothGain[k], target);
    smoothGain[k] = g;
    const float p = power[k];
    kept += static_cast<double>(g * p * g);
    total += static_cast<double>(p);
    re[k] *= g;
    im[k] *= g;
    if (k > 0 && k < nyquist) {
      re[n - k] *= g;
      im[n - k] *= g;
    }
  }
  suppressionDb_ = total > kSilentPower
                       ? static_cast<float>(10.0 * std::log10(kMeterFloor + kept / total))
                       : 0.0f;
}

}  // namespace vorlund
