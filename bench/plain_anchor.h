// The cost anchor that the performance targets are stated against: per sample a plain loop
// through 15 biquad sections, and every 128 samples one 512-point complex transform forward and
// back over the last 512 samples, both written the straightforward way. It stands for what a
// three-stage voice library costs, so ratios against it survive a change of machine.
#pragma once

#include <array>
#include <vector>

#include "chain/biquad.h"
#include "reference/reference_fft.h"

namespace vorlund::bench {

class PlainLoopAnchor {
 public:
  static constexpr int kSections = 15;
  static constexpr int kTransformSize = 512;
  static constexpr int kHop = 128;

  void prepare(double sampleRate);
  void process(float* samples, int count) noexcept;
  // Keeps the transforms' results alive so the optimiser cannot drop them.
  float sink() const noexcept { return sink_; }

 private:
  std::array<BiquadSection, kSections> sections_{};
  reference::ReferenceFft fft_;
  std::vector<float> history_;
  std::vector<float> re_;
  std::vector<float> im_;
  int filled_ = 0;
  int sinceTransform_ = 0;
  float sink_ = 0.0f;
};

}  // namespace vorlund::bench
