// Layer: signal
// The vector passes of the noise suppressor's frame: the transform pair and the estimator's bin
// passes. spectrum_kernels.cpp is built twice, four lanes wide (SSE2) and eight lanes wide
// (AVX2), into the lane sets' namespaces; each build gives exactly the other's bits, and
// spectrumKernels(path) hands out the one the processor runs (chain/vector_path.h).
#pragma once

#include <cstdint>

#include "chain/lanes.h"
#include "chain/vector_path.h"

namespace vorlund {

// The tables of an N-point transform (Fft).
struct FftTables {
  int size;
  const float* cosTable;  // cos(-2 pi j / N), j < N/2
  const float* sinTable;  // sin(-2 pi j / N), j < N/2
  const std::int32_t* bitReverse;
  // The real-input pair's N/2-point transform in radix 4 (from 32 points on): for each radix-4
  // stage of half-length h = 4, 16, ... (4h <= N/2) the cosines and sines of W^k, W^2k and
  // W^3k, W = exp(-2 pi i / 4h), k < h, as six rows of h; then, if N/2 is an odd power of two,
  // the cosines and sines of exp(-2 pi i k / (N/2)), k < N/4, as two rows.
  const float* stageTable;
};

// The noise suppressor's frame of N samples around the transform pair: the input as its four
// quarters of N/4 samples, oldest first (a ring, so they need not be adjacent), the window
// (N entries), the overlap-add sums (N entries, the top quarter zero) and the output hop (N/4).
struct FramePass {
  const float* quarters[4];
  const float* window;
  float* overlap;
  float* output;
};

// Everything one frame's estimator pass needs: the arrays, and the frame's phase and constants.
struct BinPass {
  static constexpr int kRingSlots = 8;
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
};

// The gains' smoothing over neighbouring bins and over time, and their application.
struct GainPass {
  const float* gain;
  float* smoothGain;
  float* re;
  float* im;
  int bins;
  bool enabled;
  float floorGain;
  float attack;
  float release;
};

struct SpectrumKernels {
  // Fft::transform, Fft::forwardReal and Fft::inverseReal.
  void (*transform)(const FftTables& tables, float* re, float* im, bool inverse) noexcept;
  void (*forwardReal)(const FftTables& tables, float* re, float* im) noexcept;
  void (*inverseReal)(const FftTables& tables, float* re, float* im) noexcept;
  // Fft::forwardFrame and Fft::inverseFrame.
  void (*forwardFrame)(const FftTables& tables, const FramePass& frame, float* re,
                       float* im) noexcept;
  void (*inverseFrame)(const FftTables& tables, const float* re, float* im,
                       const FramePass& frame) noexcept;
  // Power, noise estimate and raw Wiener gain of every bin.
  void (*estimate)(const BinPass& pass) noexcept;
  // Smooths the gains and applies them.
  void (*applyGains)(const GainPass& pass) noexcept;
};

// Each build's kernels.
namespace sse2 {
const SpectrumKernels& spectrumKernels() noexcept;
}
namespace avx2 {
const SpectrumKernels& spectrumKernels() noexcept;
}

// The kernels of `path`; defined in an SSE2 unit, like every inline-free entry point here, so
// that the AVX2 unit holds nothing but its own namespace.
const SpectrumKernels& spectrumKernels(VectorPath path) noexcept;

}  // namespace vorlund
