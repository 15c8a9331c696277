// Layer: signal
// In-place radix-2 decimation-in-time complex transform on separate real and imaginary arrays,
// the noise suppressor's transform, with a real-input pair built on it: a frame of N real
// samples goes forward through an N/2-point complex transform of its even and odd samples plus
// a split pass, and a conjugate-symmetric spectrum comes back the same way, at half the work of
// the complex transform; from 32 points on the N/2-point transform runs in radix 4, with the
// bit reversal folded into its first (forward) or last (inverse) stage. The forward direction is
// unscaled, the inverse scales by 1/N. setup() builds every table and picks the vector path; the
// transforms only read them, so they are real-time safe. Their passes live in spectrum_kernels.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "chain/buffers.h"
#include "chain/vector_path.h"
#include "suppressor/spectrum_kernels.h"

namespace vorlund {

class Fft {
 public:
  // Configuration thread; may allocate. `n` is a power of two. The vector path is the chosen
  // one (chain/vector_path.h) unless given.
  void setup(int n);
  void setup(int n, VectorPath path);
  // Real-time thread; transforms re[k] + i im[k], k < size(), in place. Never allocates.
  void transform(float* re, float* im, bool inverse) const noexcept;
  // Real-time thread; re holds size() real samples. Leaves bins 0..N/2 of their spectrum in
  // re[k] + i im[k] (the bins above are their mirror images and are not written; the rest of
  // both arrays is used as work space).
  void forwardReal(float* re, float* im) const noexcept;
  // Real-time thread; the inverse of a conjugate-symmetric spectrum given by its bins 0..N/2 in
  // re and im (the imaginary parts of bins 0 and N/2, which such a spectrum does not have, are
  // ignored). Leaves the size() real samples, scaled by 1/N, in re; im is work space.
  void inverseReal(float* re, float* im) const noexcept;

  // Real-time thread; the noise suppressor's frame, for size() >= 32: forwardReal of the
  // frame's quarters times the window into re and im.
  void forwardFrame(const FramePass& frame, float* re, float* im) const noexcept;
  // Real-time thread; for size() >= 32: inverseReal of re and im (im is work space), times the
  // window and a half, added to the overlap sums; the sums of the first quarter go to the
  // output hop and the others move down a quarter, so the top quarter stays zero.
  void inverseFrame(const float* re, float* im, const FramePass& frame) const noexcept;

  int size() const noexcept { return size_; }
  VectorPath vectorPath() const noexcept { return path_; }
  // The passes of the chosen path, which the noise suppressor's estimator shares.
  const SpectrumKernels& kernels() const noexcept { return *kernels_; }
  // Index j with its lowest log2(size) bits reversed.
  std::int32_t bitReverse(int j) const noexcept { return bitReverse_[j]; }
  // Bytes of the twiddle and bit-reversal tables.
  std::size_t bufferBytes() const noexcept {
    return reservedBytes(cosTable_) + reservedBytes(sinTable_) + reservedBytes(bitReverse_) +
           reservedBytes(stageTable_);
  }

 private:
  FftTables tables() const noexcept {
    return {size_, cosTable_.data(), sinTable_.data(), bitReverse_.data(), stageTable_.data()};
  }

  int size_ = 0;
  VectorPath path_ = VectorPath::Sse2;
  const SpectrumKernels* kernels_ = &sse2::spectrumKernels();
  // Entry j = cos(-2 pi j / N) and sin(-2 pi j / N), j < N/2. A stage of half-length h reads
  // every N/(2h)-th entry, and so does the N/2-point transform inside the real-input pair.
  std::vector<float> cosTable_;
  std::vector<float> sinTable_;
  std::vector<std::int32_t> bitReverse_;
  // The real-input pair's radix-4 stage factors (FftTables::stageTable); empty below 32 points.
  std::vector<float> stageTable_;
};

}  // namespace vorlund
