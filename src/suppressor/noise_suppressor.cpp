// Layer: signal
#include "suppressor/noise_suppressor.h"

#include <algorithm>
#include <cmath>

#include "chain/fast_math.h"
#include "chain/gain.h"
#include "chain/lanes.h"
#include "chain/numbers.h"

namespace vorlund {
namespace {

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

void NoiseSuppressor::configure(const Settings& settings) noexcept {
  const auto [enabled, reductionDb, strength] = settings;
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
  fillStart_ = frameSize_ - hop_;
  hopPos_ = 0;
  // The minima need no clearing: the last initial frame sets them before they are read.
  std::fill(noise_.begin(), noise_.end(), 0.0f);
  std::fill(presenceAvg_.begin(), presenceAvg_.end(), 0.0f);
  std::fill(gain_.begin(), gain_.end(), 1.0f);
  std::fill(smoothGain_.begin(), smoothGain_.end(), 1.0f);
  std::fill(prevClean_.begin(), prevClean_.end(), 0.0f);
  subwindowCount_ = 0;
  suppressionDb_ = 0.0f;
  meterPending_ = false;
}

void NoiseSuppressor::processFrame() noexcept {
  const int hop = hop_;
  float* input = inputFrame_.data();
  // The quarters oldest first: the one after the newest is the oldest.
  FramePass frame{};
  for (int q = 0; q < 4; ++q) frame.quarters[q] = input + (fillStart_ + (q + 1) * hop) % frameSize_;
  frame.window = window_.data();
  frame.overlap = overlapAdd_.data();
  frame.output = outputHop_.data();

  // The frame is real, so the transform pair needs only bins 0..N/2 of its spectrum. The
  // inverse adds the frame, windowed again and halved (the four overlapping squared windows
  // sum to 2), to the overlap sums and hands out the first hop of them.
  fft_.forwardFrame(frame, re_.data(), im_.data());
  shapeSpectrum();
  fft_.inverseFrame(re_.data(), im_.data(), frame);
  // The oldest quarter is overwritten by the next samples before it is read again.
  fillStart_ = (fillStart_ + hop) % frameSize_;

  if (frameCount_ < kMaxFrameCount) frameCount_ += 1;
}

void NoiseSuppressor::shapeSpectrum() noexcept {
  const int bins = binCount_;
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

  const SpectrumKernels& kernels = fft_.kernels();
  kernels.estimate(pass);
  if (pass.subwindowEnd) ringSlot_ = (ringSlot_ + 1) % kRingSlots;

  // Smooth the raw gains over neighbouring bins and over time and apply them.
  const GainPass gains{.gain = gain_.data(),
                       .smoothGain = smoothGain_.data(),
                       .re = re_.data(),
                       .im = im_.data(),
                       .bins = bins,
                       .enabled = enabled_,
                       .floorGain = floorGain_,
                       .attack = gainSmoothing_.attack,
                       .release = gainSmoothing_.release};
  kernels.applyGains(gains);
  meterPending_ = true;
}

void NoiseSuppressor::updateMeter() const noexcept {
  // The frame's kept power (g P g) and power, added in bin order in double. The sums are one
  // long chain of dependent additions, so they run only for the frame the meter is read after.
  const float* smoothed = smoothGain_.data();
  const float* power = power_.data();
  double kept = 0.0;
  double total = 0.0;
  for (int k = 0; k < binCount_; ++k) {
    kept += static_cast<double>(smoothed[k] * power[k] * smoothed[k]);
    total += static_cast<double>(power[k]);
  }
  suppressionDb_ = total > kSilentPower
                       ? static_cast<float>(10.0 * std::log10(kMeterFloor + kept / total))
                       : 0.0f;
  meterPending_ = false;
}

}  // namespace vorlund
