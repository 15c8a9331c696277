// The noise suppressor written the straightforward way: one bin at a time in one loop, the
// exponential inside it, every mirror bin multiplied. The transform is a parameter: with
// ComplexTransform it is the definition end to end (the plain complex transform forward and
// back over all N bins), which the product matches up to float rounding; with
// RealInputTransform it uses the product's real-input pair, so any difference left is the
// product's restructured bin passes, which must match bit for bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "chain/biquad.h"
#include "chain/gain.h"
#include "reference/reference_fft.h"
#include "suppressor/fft.h"
#include "suppressor/noise_suppressor.h"

namespace vorlund::reference {

struct ComplexTransform {
  ReferenceFft fft;
  int n = 0;
  void setup(int size) {
    n = size;
    fft.setup(size);
  }
  void forward(float* re, float* im) const {
    std::fill(im, im + n, 0.0f);
    fft.transform(re, im, false);
  }
  void inverse(float* re, float* im) const { fft.transform(re, im, true); }
};

struct RealInputTransform {
  Fft fft;
  void setup(int size) { fft.setup(size); }
  void forward(float* re, float* im) const { fft.forwardReal(re, im); }
  void inverse(float* re, float* im) const { fft.inverseReal(re, im); }
};

template <typename Transform>
class ReferenceNoiseSuppressor {
 public:
  static constexpr int kRingSlots = 8;

  void prepare(double sampleRate) {
    const int n = sampleRate <= 25000.0    ? 256
                  : sampleRate <= 50000.0  ? 512
                  : sampleRate <= 100000.0 ? 1024
                                           : 2048;
    n_ = n;
    hop_ = n / 4;
    bins_ = n / 2 + 1;
    transform_.setup(n);
    window_.resize(n);
    for (int i = 0; i < n; ++i)
      window_[i] = static_cast<float>(std::sqrt(0.5 - 0.5 * designCos(6.283185307179586 * i / n)));
    inputFrame_.assign(n, 0.0f);
    outputHop_.assign(hop_, 0.0f);
    overlapAdd_.assign(n, 0.0f);
    re_.assign(n, 0.0f);
    im_.assign(n, 0.0f);
    power_.assign(bins_, 0.0f);
    noise_.assign(bins_, 0.0f);
    presenceAvg_.assign(bins_, 0.0f);
    gain_.assign(bins_, 1.0f);
    smoothGain_.assign(bins_, 1.0f);
    prevClean_.assign(bins_, 0.0f);
    smoothedPower_.assign(bins_, 0.0f);
    currentMin_.assign(bins_, 0.0f);
    minRing_.assign(static_cast<std::size_t>(kRingSlots) * bins_, 0.0f);
    ringSlot_ = 0;
    const double period = hop_ / sampleRate;
    const double frameRate = sampleRate / hop_;
    initFrames_ = static_cast<int>(0.25 / period);
    subwindowFrames_ = std::max(1, static_cast<int>(0.625 / period));
    alphaSmooth_ = smoothingCoefficient(76.0, frameRate);
    alphaNoise_ = smoothingCoefficient(35.8, frameRate);
    alphaPresence_ = smoothingCoefficient(75.9, frameRate);
    alphaDecision_ = smoothingCoefficient(396.0, frameRate);
    gainSmoothing_.set(3.0, 70.0, frameRate);
    reset();
  }
  void configure(const NoiseSuppressor::Settings& settings) {
    const auto [enabled, reductionDb, strength] = settings;
    enabled_ = enabled;
    const float reduction = reductionDb < 0.0f ? 0.0f : std::min(60.0f, reductionDb);
    floorGain_ = dbToGain(-reduction);
    overSubtraction_ = std::min(1.0f, std::max(0.0f, strength)) * 1.7f + 0.8f;
  }
  void reset() {
    std::fill(inputFrame_.begin(), inputFrame_.end(), 0.0f);
    std::fill(outputHop_.begin(), outputHop_.end(), 0.0f);
    std::fill(overlapAdd_.begin(), overlapAdd_.end(), 0.0f);
    frameCount_ = 0;
    writePos_ = n_ - hop_;
    std::fill(noise_.begin(), noise_.end(), 0.0f);
    std::fill(presenceAvg_.begin(), presenceAvg_.end(), 0.0f);
    std::fill(gain_.begin(), gain_.end(), 1.0f);
    std::fill(smoothGain_.begin(), smoothGain_.end(), 1.0f);
    std::fill(prevClean_.begin(), prevClean_.end(), 0.0f);
    subwindowCount_ = 0;
    suppressionDb_ = 0.0f;
  }
  float processSample(float x) {
    const int delayed = n_ - hop_;
    inputFrame_[writePos_] = x;
    const float y = outputHop_[writePos_ - delayed];
    if (++writePos_ >= n_) {
      writePos_ = delayed;
      processFrame();
    }
    return y;
  }
  void setFrameCount(std::int32_t count) { frameCount_ = count < 0 ? 0 : count; }
  int frameSize() const { return n_; }
  float suppressionDb() const { return suppressionDb_; }

 private:
  void processFrame() {
    const int n = n_;
    for (int i = 0; i < n; ++i) re_[i] = inputFrame_[i] * window_[i];
    transform_.forward(re_.data(), im_.data());
    shapeSpectrum();
    transform_.inverse(re_.data(), im_.data());
    for (int i = 0; i < n; ++i) overlapAdd_[i] += window_[i] * re_[i] * 0.5f;
    std::memcpy(outputHop_.data(), overlapAdd_.data(), sizeof(float) * hop_);
    std::memmove(overlapAdd_.data(), overlapAdd_.data() + hop_, sizeof(float) * (n - hop_));
    std::fill(overlapAdd_.begin() + (n - hop_), overlapAdd_.end(), 0.0f);
    std::memmove(inputFrame_.data(), inputFrame_.data() + hop_, sizeof(float) * (n - hop_));
    if (frameCount_ < 2147483647) frameCount_ += 1;
  }

  void shapeSpectrum() {
    const int bins = bins_;
    const int nyquist = bins - 1;
    const int n = n_;
    const std::int32_t frames = frameCount_;
    const bool inInit = frames < initFrames_;
    bool subwindowEnd = false;
    if (!inInit && ++subwindowCount_ >= subwindowFrames_) {
      subwindowCount_ = 0;
      subwindowEnd = true;
    }
    for (int k = 0; k < bins; ++k) {
      const float p = im_[k] * im_[k] + re_[k] * re_[k] + 1e-20f;
      power_[k] = p;
      float estimate = noise_[k];
      if (inInit) {
        estimate = frames == 0 ? p : estimate + (p - estimate) / static_cast<float>(frames + 1);
        if (frames == initFrames_ - 1) {
          currentMin_[k] = estimate;
          smoothedPower_[k] = estimate;
          for (int s = 0; s < kRingSlots; ++s) minRing_[s * bins + k] = estimate;
        }
      } else {
        float presence =
            1.0f / (1.0f + 32.622776f * fastExp(-std::min(80.0f, 0.96934658f * p / estimate)));
        presenceAvg_[k] = (1.0f - alphaPresence_) * presence + alphaPresence_ * presenceAvg_[k];
        if (presenceAvg_[k] > 0.99f) presence = std::min(0.99f, presence);
        estimate = ((1.0f - presence) * p + presence * estimate) * (1.0f - alphaNoise_) +
                   alphaNoise_ * estimate;
        const float smoothed = (1.0f - alphaSmooth_) * p + alphaSmooth_ * smoothedPower_[k];
        smoothedPower_[k] = smoothed;
        if (currentMin_[k] > smoothed) currentMin_[k] = smoothed;
        float minimum = currentMin_[k];
        for (int s = 0; s < kRingSlots; ++s) minimum = std::min(minimum, minRing_[s * bins + k]);
        estimate = std::min(4.0f * minimum, estimate);
        if (subwindowEnd) {
          minRing_[ringSlot_ * bins + k] = currentMin_[k];
          currentMin_[k] = smoothed;
        }
      }
      noise_[k] = estimate;
      const float scaledNoise = estimate * overSubtraction_ + 1e-20f;
      float xi = (1.0f - alphaDecision_) * std::max(0.0f, p / scaledNoise - 1.0f) +
                 (alphaDecision_ * prevClean_[k]) / scaledNoise;
      xi = std::max(1e-4f, xi);
      const float g = xi / (xi + 1.0f);
      gain_[k] = g;
      prevClean_[k] = g * g * p;
    }
    if (subwindowEnd) ringSlot_ = (ringSlot_ + 1) % kRingSlots;

    double kept = 0.0;
    double total = 0.0;
    for (int k = 0; k < bins; ++k) {
      const float spread = 0.5f * gain_[k] + 0.25f * gain_[std::max(k - 1, 0)] +
                           0.25f * gain_[std::min(k + 1, nyquist)];
      const float target = enabled_ ? std::max(floorGain_, spread) : 1.0f;
      const float g = gainSmoothing_.follow(smoothGain_[k], target);
      smoothGain_[k] = g;
      const float p = power_[k];
      kept += static_cast<double>(g * p * g);
      total += static_cast<double>(p);
      re_[k] *= g;
      im_[k] *= g;
      if (k > 0 && k < nyquist) {
        re_[n - k] *= g;
        im_[n - k] *= g;
      }
    }
    suppressionDb_ =
        total > 1e-12 ? static_cast<float>(10.0 * std::log10(1e-12 + kept / total)) : 0.0f;
  }

  Transform transform_;
  int n_ = 0, hop_ = 0, bins_ = 0, writePos_ = 0;
  std::int32_t frameCount_ = 0;
  std::vector<float> window_, inputFrame_, outputHop_, overlapAdd_, re_, im_;
  bool enabled_ = true;
  float floorGain_ = 1.0f, overSubtraction_ = 1.0f;
  int initFrames_ = 0, subwindowFrames_ = 1, subwindowCount_ = 0, ringSlot_ = 0;
  float alphaSmooth_ = 0.0f, alphaNoise_ = 0.0f, alphaPresence_ = 0.0f, alphaDecision_ = 0.0f;
  AttackRelease gainSmoothing_;
  float suppressionDb_ = 0.0f;
  std::vector<float> power_, noise_, presenceAvg_, gain_, smoothGain_, prevClean_;
  std::vector<float> smoothedPower_, currentMin_, minRing_;
};

}  // namespace vorlund::reference
