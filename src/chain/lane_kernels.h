// Layer: signal
// The per-sample stages' vector passes: the compressor's levels in dB before its recursion and
// its gains after it, the saturating voice effect's drive, the chain's long filter cascades.
// lane_kernels.cpp is built twice like the noise suppressor's kernels, four lanes wide (SSE2) and
// eight wide (AVX2); each lane computes what a single float would, so both give the same bits, and
// laneKernels(path) hands out the one the processor runs.
#pragma once

#include "chain/biquad.h"
#include "chain/lanes.h"
#include "chain/vector_path.h"

namespace vorlund {

// The longest cascade the cascade pass takes: the equaliser's bands with the tone filters.
constexpr int kMaxKernelCascade = 13;

// Samples at or below kCompressorQuietest count as kCompressorQuietestDb.
constexpr float kCompressorQuietest = 1e-6f;
constexpr float kCompressorQuietestDb = -120.0f;

struct LaneKernels {
  // db[i] = the level of x[i] in dB above thresholdDb; -inf for magnitudes below quietLevel,
  // which are surely under the knee.
  void (*levels)(const float* x, float* db, int count, float thresholdDb,
                 float quietLevel) noexcept;
  // x[i] *= the gain of db[i] dB.
  void (*applyGains)(float* x, const float* db, int count) noexcept;
  // x[i] = tanh(x[i] drive) norm wetGain.
  void (*saturate)(float* x, int count, float drive, float norm, float wetGain) noexcept;
  // The block in place through sectionCount (<= kMaxKernelCascade) sections, skewed
  // (LocalCascade::processBlock); their state is kept.
  void (*cascade)(BiquadSection* const* sections, int sectionCount, float* samples,
                  int count) noexcept;
};

namespace sse2 {
const LaneKernels& laneKernels() noexcept;
}
namespace avx2 {
const LaneKernels& laneKernels() noexcept;
}

const LaneKernels& laneKernels(VectorPath path) noexcept;

}  // namespace vorlund
