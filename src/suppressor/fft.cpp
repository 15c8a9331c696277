// Layer: signal
#include "suppressor/fft.h"

#include <cassert>

#include "chain/fast_math.h"
#include "chain/numbers.h"

namespace vorlund {

void Fft::setup(int n) {
  setup(n, chosenVectorPath());
}

void Fft::setup(int n, VectorPath path) {
  kernels_ = &spectrumKernels(path);
  path_ = path;
  // The radix-2 stages and the bit reversal hold for powers of two only.
  assert(n >= 0 && (n & (n - 1)) == 0);
  size_ = n;
  int bits = 0;
  for (int v = 1; v < n; v *= 2) bits += 1;

  const int half = n > 1 ? n / 2 : 0;
  cosTable_.resize(half);
  sinTable_.resize(half);
  for (int j = 0; j < half; ++j) {
    const double angle = j * -kTwoPi / n;
    cosTable_[j] = static_cast<float>(designCos(angle));
    sinTable_[j] = static_cast<float>(designSin(angle));
  }

  // The factors of the pair's radix-4 stages, each that of table entry j n / (4h) or, for the
  // radix-2 stage, k n / m; the rows are laid out as FftTables::stageTable says.
  const int m = n / 2;
  std::size_t rows = 0;  // of the stage table, by length
  int h = 4;
  if (m >= 16) {
    for (; 4 * h <= m; h *= 4) rows += 6 * static_cast<std::size_t>(h);
    if (h == m / 2) rows += 2 * static_cast<std::size_t>(h);
  }
  // Unlike the definition's tables, sized exactly for this size.
  sizeExactly(stageTable_, rows, 0.0f);
  float* entry = stageTable_.data();
  auto addRows = [&](int count, int step) {
    for (int k = 0; k < count; ++k)
      *entry++ = static_cast<float>(designCos(k * step * -kTwoPi / n));
    for (int k = 0; k < count; ++k)
      *entry++ = static_cast<float>(designSin(k * step * -kTwoPi / n));
  };
  if (m >= 16) {
    for (h = 4; 4 * h <= m; h *= 4)
      for (int j = 1; j <= 3; ++j) addRows(h, j * n / (4 * h));
    if (h == m / 2) addRows(h, n / m);
  }

  bitReverse_.resize(n > 0 ? n : 0);
  for (int j = 0; j < n; ++j) {
    std::int32_t r = 0;
    for (int k = 0; k < bits; ++k)
      if ((j >> k) & 1) r |= 1 << (bits - 1 - k);
    bitReverse_[j] = r;
  }
}

void Fft::transform(float* re, float* im, bool inverse) const noexcept {
  kernels_->transform(tables(), re, im, inverse);
}

void Fft::forwardReal(float* re, float* im) const noexcept {
  kernels_->forwardReal(tables(), re, im);
}

void Fft::inverseReal(float* re, float* im) const noexcept {
  kernels_->inverseReal(tables(), re, im);
}

void Fft::forwardFrame(const FramePass& frame, float* re, float* im) const noexcept {
  assert(size_ >= 32);
  kernels_->forwardFrame(tables(), frame, re, im);
}

void Fft::inverseFrame(const float* re, float* im, const FramePass& frame) const noexcept {
  assert(size_ >= 32);
  kernels_->inverseFrame(tables(), re, im, frame);
}

const SpectrumKernels& spectrumKernels(VectorPath path) noexcept {
  return path == VectorPath::Avx2 ? avx2::spectrumKernels() : sse2::spectrumKernels();
}

}  // namespace vorlund
