// Layer: signal
// Short-time spectral noise suppressor. Samples go in and come out one at a time, exactly N
// samples later; every hop of N/4 samples a frame is windowed, transformed, weighted bin by
// bin with a Wiener gain against a tracked noise estimate, transformed back and overlap-added.
// The framing always runs, so switching suppression off keeps the delay and only drives the
// gains to 1. Only prepare() allocates.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "chain/biquad.h"
#include "suppressor/fft.h"

namespace vorlund {

class NoiseSuppressor {
 public:
  static constexpr int kRingSlots = BinPass::kRingSlots;
  static constexpr std::int32_t kMaxFrameCount = std::numeric_limits<std::int32_t>::max();

  struct Settings {
    bool enabled{};
    float reductionDb{};  // depth of the noise floor, 0..60
    float strength{};     // 0..1: over-subtraction
  };

  // N by rate band: 256 up to 25 kHz, doubling per band up to 2048 above 100 kHz.
  static int frameSizeForRate(double sampleRate) noexcept;

  // Configuration thread; allocates. Ends with reset().
  void prepare(double sampleRate);
  // Real-time thread; takes effect from the next frame and touches no signal state.
  void configure(const Settings& settings) noexcept;
  // Real-time thread; back to the just-prepared state, which restarts the noise learning.
  void reset() noexcept;

  // Real-time thread; returns the sample that went in N samples earlier, processed.
  float processSample(float x) noexcept {
    inputFrame_[fillStart_ + hopPos_] = x;
    const float y = outputHop_[hopPos_];
    if (++hopPos_ >= hop_) {
      hopPos_ = 0;
      processFrame();
    }
    return y;
  }

  // Real-time thread; 0 restarts the noise learning without disturbing the signal. A negative
  // count would make the running mean divide by zero, so it counts as 0.
  void setFrameCount(std::int32_t count) noexcept { frameCount_ = count < 0 ? 0 : count; }

  // Bytes of every buffer the stage owns, and of its transform's tables. The tables keep the
  // capacity of the largest size prepared so far (the transform resizes them in place).
  std::size_t bufferBytes() const noexcept;
  std::size_t transformBytes() const noexcept { return fft_.bufferBytes(); }
  // The vector path the frame's passes take, chosen in prepare().
  VectorPath vectorPath() const noexcept { return fft_.vectorPath(); }

  int frameSize() const noexcept { return frameSize_; }
  int hop() const noexcept { return hop_; }
  std::int32_t frameCount() const noexcept { return frameCount_; }
  int initFrames() const noexcept { return initFrames_; }
  int subwindowFrames() const noexcept { return subwindowFrames_; }
  int ringSlot() const noexcept { return ringSlot_; }
  // Real-time thread; output-to-input power ratio of the last frame, dB, at most 0; 0 for a
  // silent frame. Worked out on the first call after a frame.
  float suppressionDb() const noexcept {
    if (meterPending_) updateMeter();
    return suppressionDb_;
  }

 private:
  void processFrame() noexcept;
  // Updates the noise estimate and gains from bins 0..N/2 of re_/im_ and applies the gains.
  void shapeSpectrum() noexcept;
  void updateMeter() const noexcept;

  int frameSize_ = 0;
  int hop_ = 0;
  int binCount_ = 0;
  // The input frame is a ring of four quarters of H samples; the newest one, which the samples
  // fill, starts at fillStart_ (a multiple of H), and hopPos_ samples of it are in.
  int fillStart_ = 0;
  int hopPos_ = 0;
  std::int32_t frameCount_ = 0;
  Fft fft_;
  // Sized in prepare(): N entries, but outputHop_ H and the estimator arrays N/2 + 1.
  std::vector<float> window_;
  std::vector<float> inputFrame_;
  std::vector<float> outputHop_;
  // Overlap-add sums of the frames so far, the first one due next; the top quarter is zero.
  std::vector<float> overlapAdd_;
  std::vector<float> re_;
  std::vector<float> im_;

  // Settings.
  bool enabled_ = true;
  float floorGain_ = 1.0f;
  float overSubtraction_ = 1.0f;

  // Frame-rate constants.
  int initFrames_ = 0;
  int subwindowFrames_ = 1;
  float alphaSmooth_ = 0.0f;
  float alphaNoise_ = 0.0f;
  float alphaPresence_ = 0.0f;
  float alphaDecision_ = 0.0f;
  AttackRelease gainSmoothing_;

  // Estimator state.
  int subwindowCount_ = 0;
  int ringSlot_ = 0;
  // The last frame's meter, and whether it still waits to be worked out from its gains and
  // powers (which stay in smoothGain_ and power_ until the next frame).
  mutable float suppressionDb_ = 0.0f;
  mutable bool meterPending_ = false;
  std::vector<float> power_;
  std::vector<float> noise_;
  std::vector<float> presenceAvg_;
  std::vector<float> gain_;
  std::vector<float> smoothGain_;
  std::vector<float> prevClean_;
  std::vector<float> smoothedPower_;
  std::vector<float> currentMin_;
  // kRingSlots rows of N/2 + 1: minima of the last completed sub-windows.
  std::vector<float> minRing_;
};

}  // namespace vorlund
