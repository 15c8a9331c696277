// Layer: signal
// Feed-forward compressor in the dB domain, sample by sample: instantaneous level, soft-knee
// static curve, a gain reduction that is taken at once and released slowly, then smoothed by
// the attack, and make-up gain set by hand and optionally raised from threshold and ratio.
// Disabled, it passes the signal untouched and keeps its state as it was.
#pragma once

#include <cmath>

#include "chain/lane_kernels.h"

namespace vorlund {

class Compressor {
 public:
  // Configuration thread; start values.
  void prepare(double sampleRate) noexcept;
  struct Settings {
    bool enabled{};
    float thresholdDb{};
    float ratio{};  // n:1 above the threshold; 1 or below compresses nothing
    float attackMs{};
    float releaseMs{};
    float kneeDb{};  // width of the soft knee, centred on the threshold
    float makeupDb{};
    bool autoMakeup{};  // add make-up worked out from threshold and ratio
  };

  // Real-time thread; settings only, signal state kept.
  void configure(const Settings& settings) noexcept;
  // Real-time thread.
  void reset() noexcept;

  // Real-time thread; the block in place. Only the held and smoothed reductions are a
  // recursion: the levels (logarithms) go before it and the gains (exponentials) after it in
  // vector passes of their own.
  void process(float* samples, int count) noexcept;

  // Gain change after the last processed sample, dB, <= 0.
  float reductionDb() const noexcept { return reductionDb_; }

 private:
  bool belowKnee(float overDb) const noexcept { return -kneeDb_ > 2.0f * overDb; }
  // Reduction in dB (>= 0) for a level `overDb` above the threshold.
  float staticReduction(float overDb) const noexcept {
    if (belowKnee(overDb)) return 0.0f;
    if (kneeDb_ > 0.0f && kneeDb_ >= 2.0f * std::fabs(overDb)) {
      const float intoKnee = overDb + 0.5f * kneeDb_;
      return -slope_ * intoKnee * intoKnee / (2.0f * kneeDb_);
    }
    return -slope_ * overDb;
  }

  double sampleRate_ = 48000.0;
  const LaneKernels* kernels_ = &sse2::laneKernels();
  bool enabled_ = false;
  float thresholdDb_ = 0.0f;
  // 1/ratio - 1: 0 at ratio 1, -2/3 at ratio 3.
  float slope_ = 0.0f;
  float kneeDb_ = 0.0f;
  float attack_ = 0.0f;
  float release_ = 0.0f;
  float makeupDb_ = 0.0f;
  // Magnitudes below this are surely under the knee (0 when that cannot be promised).
  float quietLevel_ = 0.0f;
  float heldReduction_ = 0.0f;
  float smoothedReduction_ = 0.0f;
  float reductionDb_ = 0.0f;
};

}  // namespace vorlund
