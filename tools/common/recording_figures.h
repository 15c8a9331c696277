// A recording measured in 100 ms frames, to tell what an effect did in its pauses and to its
// voice: each frame's level, its K-weighted loudness and the level of chosen spectral lines
// (mains hum and its harmonics, or any frequency a claim names). Pauses and voice are told
// apart on the input and looked up at the same frames of the output.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include "common/loudness_meter.h"

namespace vorlund {

// A Hann window of `length` samples, symmetric about the frame's middle.
std::vector<double> hannWindow(std::size_t length);

class FrameFigures {
 public:
  static constexpr double kFrameSeconds = 0.1;

  // `lines`: the frequencies (Hz) whose level each frame keeps.
  FrameFigures(double sampleRate, int channels, std::vector<double> lines);

  // Interleaved frames, in order; any number per call. The channels' mean is measured.
  void add(const float* interleaved, std::size_t frames);

  // Completed frames.
  std::size_t frameCount() const noexcept { return meanSquares_.size(); }
  // Each completed frame's mean square.
  const std::vector<double>& meanSquares() const noexcept { return meanSquares_; }
  const std::vector<double>& lines() const noexcept { return lines_; }

  // RMS over `frames` in dBFS (-inf for silence or no frames).
  double levelDb(const std::vector<std::size_t>& frames) const;
  // Loudness of `frames` (K-weighted mean square, LUFS; without gating).
  double loudnessLufs(const std::vector<std::size_t>& frames) const;
  // Level of line `line` over `frames`, as the amplitude of a sine in dBFS: a Hann-windowed
  // single bin, its power averaged over the frames.
  double lineLevelDb(std::size_t line, const std::vector<std::size_t>& frames) const;

 private:
  int channels_;
  std::size_t frameLength_;
  std::vector<double> lines_;
  std::vector<double> window_;
  double windowSum_ = 0.0;
  std::vector<std::complex<double>> rotations_;  // per sample, per line

  // The running frame.
  std::size_t fill_ = 0;
  double sumSquares_ = 0.0;
  std::vector<std::complex<double>> phasors_;
  std::vector<std::complex<double>> bins_;

  std::vector<double> meanSquares_;
  std::vector<double> linePowers_;  // frame-major: frameCount() x lines_.size()
  LoudnessMeter loudness_;
};

// Frames of a recording that are pauses (within 3 dB of its quietest tenth: background only)
// and voice (10 dB or more above that background).
struct Sections {
  std::vector<std::size_t> pauses;
  std::vector<std::size_t> voice;
};
Sections findSections(const FrameFigures& input);

}  // namespace vorlund
