// Loudness of a recording as ITU-R BS.1770 measures it, by libebur128: the integrated loudness
// (400 ms blocks stepped by 100 ms, an absolute gate at -70 LUFS and a relative gate 10 LU
// below the blocks that pass it) and the K-weighted mean square of every 100 ms step. Every
// channel weighs 1.0 (the weights of surround channels need a layout the files do not always
// carry).
#pragma once

#include <ebur128.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace vorlund {

class LoudnessMeter {
 public:
  // Shown when no block passes the absolute gate (silence, or less than 400 ms of sound).
  static constexpr double kNoLoudness = -1e9;

  // Throws std::bad_alloc when libebur128 cannot make its state.
  LoudnessMeter(double sampleRate, int channels);

  // Interleaved frames, in order; any number per call.
  void add(const float* interleaved, std::size_t frames);

  // LUFS over everything added so far, or kNoLoudness.
  double integratedLufs() const;

  // The K-weighted, channel-summed mean square of every completed 100 ms step, in order.
  const std::vector<double>& stepPowers() const noexcept { return steps_; }
  // LUFS of such a mean square (0: kNoLoudness).
  static double lufsOf(double meanSquare);

 private:
  struct Release {
    void operator()(ebur128_state* state) const;
  };

  std::unique_ptr<ebur128_state, Release> state_;
  int channels_;
  std::size_t stepFrames_;  // 100 ms: a quarter of a gating block
  std::size_t stepFill_ = 0;
  std::vector<double> steps_;  // mean squares of completed steps
};

}  // namespace vorlund
