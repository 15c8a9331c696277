#include "suppressor/noise_suppressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "chain/fast_math.h"
#include "chain/gain.h"
#include "chain/lanes.h"
#include "chain/numbers.h"

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
// Floor of the a-priori SNR: 1e-4, -40 dB. It keeps the decision-directed estimate from
// locking shut (a bin whose clean estimate reached 0 would feed 0 back for good). The Wiener
// gain it allows, xi / (1 + xi) ~ 1e-4 or -80 dB, lies below the deepest gain floor the
// reduction setting can ask for (60 dB, 1e-3), so the floor itself is never heard.
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

// Everything one frame's estimator pass needs: the arrays, and the frame's phase and constants.
struct NoiseSuppressor::BinPass {
  const float* re;
  const float* im;
  float* power;
  float* noise;
  float* presenceAvg;
  float* gain;
  float* prevClean;
  float* smoothedPower;
  float* currentMin;
  float* ring;
  float* ringRow;  // the slot a closing sub-window writes
  int bins;
  bool inInit;
  bool firstFrame;
  bool lastInitFrame;
  bool subwindowEnd;
  float initDivisor;  // frames so far + 1, for the running mean
  float alphaPresence;
  float alphaNoise;
  float alphaSmooth;
  float alphaDecision;
  float overSubtraction;

  // The bin passes below run on bin k, or on bins k..k+3 when T is Lanes. The lanes are
  // independent bins, so each computes exactly what the single-bin pass computes. The
  // exponentials of the presence probabilities run as a vector pass of their own between them.

  // Power of the bin and, while tracking, the exponent of its presence probability, parked in
  // the gain array until the gains are computed.
  template <typename T>
  void measure(int k) const noexcept {
    const T r = load<T>(re + k);
    const T i = load<T>(im + k);
    const T p = i * i + r * r + kPowerFloor;
    store(power + k, p);
    if (!inInit)
      store(gain + k, minOf(broadcast<T>(kMaxExponent), kPresenceScale * p / load<T>(noise + k)));
  }

  // The exponential of each parked exponent, in place.
  template <typename T>
  void exponential(int k) const noexcept {
    store(gain + k, fastExp(-load<T>(gain + k)));
  }

  // Noise estimate and raw Wiener gain.
  template <typename T>
  void estimate(int k) const noexcept {
    const T p = load<T>(power + k);
    T estimate = load<T>(noise + k);
    if (inInit) {
      // Running mean of the frame powers since the (re)start.
      estimate = firstFrame ? p : estimate + (p - estimate) / initDivisor;
      if (lastInitFrame) {
        store(currentMin + k, estimate);
        store(smoothedPower + k, estimate);
        for (int s = 0; s < kRingSlots; ++s) store(ring + s * bins + k, estimate);
      }
    } else {
      T presence = 1.0f / (1.0f + kPresenceOdds * load<T>(gain + k));
      const T average =
          (1.0f - alphaPresence) * presence + alphaPresence * load<T>(presenceAvg + k);
      store(presenceAvg + k, average);
      const T stagnationLimit = broadcast<T>(kStagnationLimit);
      presence = average > stagnationLimit ? minOf(stagnationLimit, presence) : presence;
      estimate = ((1.0f - presence) * p + presence * estimate) * (1.0f - alphaNoise) +
                 alphaNoise * estimate;

      const T smoothed = (1.0f - alphaSmooth) * p + alphaSmooth * load<T>(smoothedPower + k);
      store(smoothedPower + k, smoothed);
      T subwindowMin = minOf(load<T>(currentMin + k), smoothed);
      T minimum = subwindowMin;
      for (int s = 0; s < kRingSlots; ++s) minimum = minOf(minimum, load<T>(ring + s * bins + k));
      estimate = minOf(kMinimumHeadroom * minimum, estimate);
      if (subwindowEnd) {
        store(ringRow + k, subwindowMin);
        subwindowMin = smoothed;
      }
      store(currentMin + k, subwindowMin);
    }
    store(noise + k, estimate);

    // Wiener gain on the decision-directed a-priori SNR.
    const T scaledNoise = estimate * overSubtraction + kPowerFloor;
    T xi = (1.0f - alphaDecision) * maxOf(broadcast<T>(0.0f), p / scaledNoise - 1.0f) +
           (alphaDecision * load<T>(prevClean + k)) / scaledNoise;
    xi = maxOf(broadcast<T>(kMinXi), xi);
    const T g = xi / (xi + 1.0f);
    store(gain + k, g);
    store(prevClean + k, g * g * p);
  }
};

int NoiseSuppressor::frameSizeForRate(double sampleRate) noexcept {
  if (sampleRate <= 25000.0) return 256;
  if (sampleRate <= 50000.0) return 512;
  if (sampleRate <= 100000.0) return 1024;
  return 2048;
}

void NoiseSuppressor::prepare(double sampleRate) {
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
  sizeExactly(window_, n, 0.0f);
  for (int i = 0; i < n; ++i)
    window_[i] = static_cast<float>(std::sqrt(0.5 - 0.5 * designCos(kTwoPi * i / n)));

  sizeExactly(inputFrame_, n, 0.0f);
  sizeExactly(outputHop_, hop_, 0.0f);
  sizeExactly(overlapAdd_, n, 0.0f);
  sizeExactly(re_, n, 0.0f);
  sizeExactly(im_, n, 0.0f);
  const int bins = binCount_;
  sizeExactly(power_, bins, 0.0f);
  sizeExactly(noise_, bins, 0.0f);
  sizeExactly(presenceAvg_, bins, 0.0f);
  sizeExactly(gain_, bins, 1.0f);
  sizeExactly(smoothGain_, bins, 1.0f);
  sizeExactly(prevClean_, bins, 0.0f);
  sizeExactly(smoothedPower_, bins, 0.0f);
  sizeExactly(currentMin_, bins, 0.0f);
  sizeExactly(minRing_, static_cast<std::size_t>(kRingSlots) * bins, 0.0f);
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

std::size_t NoiseSuppressor::bufferBytes() const noexcept {
  std::size_t bytes = 0;
  for (const std::vector<float>* buffer :
       {&window_, &inputFrame_, &outputHop_, &overlapAdd_, &re_, &im_, &power_, &noise_,
        &presenceAvg_, &gain_, &smoothGain_, &prevClean_, &smoothedPower_, &currentMin_, &minRing_})
    bytes += reservedBytes(*buffer);
  return bytes;
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

  // The frame is real, so the transform pair needs only bins 0..N/2 of its spectrum.
  for (int i = 0; i < n; ++i) re[i] = frame[i] * window[i];
  fft_.forwardReal(re, im);
  shapeSpectrum();
  fft_.inverseReal(re, im);

  // The four overlapping squared windows sum to 2, hence the half.
  for (int i = 0; i < n; ++i) overlap[i] += window[i] * re[i] * 0.5f;
  std::memcpy(outputHop_.data(), overlap, sizeof(float) * hop);
  std::memmove(overlap, overlap + hop, sizeof(float) * (n - hop));
  std::fill(overlap + (n - hop), overlap + n, 0.0f);
  // The last hop of the input is overwritten by the next samples before it is read again.
  std::memmove(frame, frame + hop, sizeof(float) * (n - hop));

  if (frameCount_ < kMaxFrameCount) frameCount_ += 1;
}

// Smoothed gain of bin k (or bins k..k+3) from the raw gains of it and its neighbours at
// `left` and `right`; applies it to the bin and returns the bin's kept power term g P g.
template <typename T>
inline T NoiseSuppressor::smoothAndApply(int k, int left, int right, float floorGain,
                                         bool enabled) noexcept {
  const float* gain = gain_.data();
  const T spread =
      0.5f * load<T>(gain + k) + 0.25f * load<T>(gain + left) + 0.25f * load<T>(gain + right);
  const T target = enabled ? maxOf(broadcast<T>(floorGain), spread) : broadcast<T>(1.0f);
  const T state = load<T>(smoothGain_.data() + k);
  const T coefficient =
      target > state ? broadcast<T>(gainSmoothing_.attack) : broadcast<T>(gainSmoothing_.release);
  const T g = (state - target) * coefficient + target;
  store(smoothGain_.data() + k, g);
  store(re_.data() + k, load<T>(re_.data() + k) * g);
  store(im_.data() + k, load<T>(im_.data() + k) * g);
  return g * load<T>(power_.data() + k) * g;
}

void NoiseSuppressor::shapeSpectrum() noexcept {
  const int bins = binCount_;
  const int nyquist = bins - 1;

  const std::int32_t frames = frameCount_;
  BinPass pass{};
  pass.re = re_.data();
  pass.im = im_.data();
  pass.power = power_.data();
  pass.noise = noise_.data();
  pass.presenceAvg = presenceAvg_.data();
  pass.gain = gain_.data();
  pass.prevClean = prevClean_.data();
  pass.smoothedPower = smoothedPower_.data();
  pass.currentMin = currentMin_.data();
  pass.ring = minRing_.data();
  pass.ringRow = minRing_.data() + static_cast<std::size_t>(ringSlot_) * bins;
  pass.bins = bins;
  pass.inInit = frames < initFrames_;
  pass.firstFrame = frames == 0;
  pass.lastInitFrame = frames == initFrames_ - 1;
  pass.subwindowEnd = false;
  if (!pass.inInit && ++subwindowCount_ >= subwindowFrames_) {
    subwindowCount_ = 0;
    pass.subwindowEnd = true;
  }
  // Only used while initialising; never formed later, when frames + 1 could overflow.
  pass.initDivisor = pass.inInit ? static_cast<float>(frames + 1) : 1.0f;
  pass.alphaPresence = alphaPresence_;
  pass.alphaNoise = alphaNoise_;
  pass.alphaSmooth = alphaSmooth_;
  pass.alphaDecision = alphaDecision_;
  pass.overSubtraction = overSubtraction_;

  // Bins 0..N/2 - 1 four at a time (N/2 is a multiple of four), then the Nyquist bin.
  int k = 0;
  for (; k + kLaneCount <= nyquist; k += kLaneCount) pass.measure<Lanes>(k);
  for (; k < bins; ++k) pass.measure<float>(k);
  if (!pass.inInit) {
    for (k = 0; k + kLaneCount <= bins; k += kLaneCount) pass.exponential<Lanes>(k);
    for (; k < bins; ++k) pass.exponential<float>(k);
  }
  for (k = 0; k + kLaneCount <= nyquist; k += kLaneCount) pass.estimate<Lanes>(k);
  for (; k < bins; ++k) pass.estimate<float>(k);
  if (pass.subwindowEnd) ringSlot_ = (ringSlot_ + 1) % kRingSlots;

  // Smooth the raw gains over neighbouring bins and over time and apply them; the kept and the
  // total power add up in bin order in double.
  const float floorGain = floorGain_;
  const bool enabled = enabled_;
  const float* power = power_.data();
  double kept = 0.0;
  double total = 0.0;
  auto add = [&](float keptTerm, float p) {
    kept += static_cast<double>(keptTerm);
    total += static_cast<double>(p);
  };
  // The edge bins count themselves in place of the missing neighbour.
  add(smoothAndApply<float>(0, 0, std::min(1, nyquist), floorGain, enabled), power[0]);
  k = 1;
  for (; k + kLaneCount <= nyquist; k += kLaneCount) {
    const Lanes keptTerms = smoothAndApply<Lanes>(k, k - 1, k + 1, floorGain, enabled);
    for (int i = 0; i < kLaneCount; ++i) add(keptTerms[i], power[k + i]);
  }
  for (; k < bins; ++k)
    add(smoothAndApply<float>(k, k - 1, std::min(k + 1, nyquist), floorGain, enabled), power[k]);
  suppressionDb_ = total > kSilentPower
                       ? static_cast<float>(10.0 * std::log10(kMeterFloor + kept / total))
                       : 0.0f;
}

}  // namespace vorlund
