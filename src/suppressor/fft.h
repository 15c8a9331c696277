// In-place radix-2 decimation-in-time complex transform on separate real and imaginary arrays,
// the noise suppressor's transform. The forward direction is unscaled, the inverse scales by
// 1/N. setup() builds every table; transform() only reads them, so it is real-time safe.
#pragma once

#include <cstdint>
#include <vector>

namespace vorlund {

class Fft {
 public:
  // Configuration thread; may allocate. `n` is a power of two.
  void setup(int n);
  // Real-time thread; transforms re[k] + i im[k], k < size(), in place. Never allocates.
  void transform(float* re, float* im, bool inverse) const noexcept;

  int size() const noexcept { return size_; }
  // Index j with its lowest log2(size) bits reversed.
  std::int32_t bitReverse(int j) const noexcept { return bitReverse_[j]; }

 private:
  int size_ = 0;
  // Twiddles stored stage by stage: entry half + k is cos / sin(-2 pi k / (2 half)) for the
  // butterflies of half-length `half`, so every stage reads its factors contiguously. The top
  // half (half = N/2) is the plain table cos / sin(-2 pi j / N), j < N/2.
  std::vector<float> twiddleCos_;
  std::vector<float> twiddleSin_;
  std::vector<std::int32_t> bitReverse_;
};

}  // namespace vorlund
