// The transform exactly as its definition states it, one scalar butterfly at a time: the
// yardstick that the vectorised, real-input transform of the noise suppressor is held to, and
// the "plain" transform of the benchmarks' cost anchor.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "chain/fast_math.h"

namespace vorlund::reference {

class ReferenceFft {
 public:
  void setup(int n) {
    constexpr double kTwoPi = 6.283185307179586;
    size_ = n;
    int bits = 0;
    for (int v = 1; v < n; v *= 2) bits += 1;
    cosTable_.assign(n / 2, 0.0f);
    sinTable_.assign(n / 2, 0.0f);
    for (int j = 0; j < n / 2; ++j) {
      const double angle = j * -kTwoPi / n;
      cosTable_[j] = static_cast<float>(designCos(angle));
      sinTable_[j] = static_cast<float>(designSin(angle));
    }
    bitReverse_.assign(n, 0);
    for (int j = 0; j < n; ++j) {
      std::int32_t r = 0;
      for (int k = 0; k < bits; ++k)
        if ((j >> k) & 1) r |= 1 << (bits - 1 - k);
      bitReverse_[j] = r;
    }
  }

  void transform(float* re, float* im, bool inverse) const {
    const int n = size_;
    for (int i = 0; i < n; ++i) {
      const int j = bitReverse_[i];
      if (i < j) {
        std::swap(re[i], re[j]);
        std::swap(im[i], im[j]);
      }
    }
    for (int len = 2; len <= n; len *= 2) {
      const int step = n / len;
      const int half = len / 2;
      for (int s = 0; s < n; s += len) {
        for (int k = 0; k < half; ++k) {
          const int a = s + k;
          const int b = a + half;
          const float c = cosTable_[k * step];
          const float w = inverse ? -sinTable_[k * step] : sinTable_[k * step];
          const float tr = re[b] * c - im[b] * w;
          const float ti = re[b] * w + im[b] * c;
          re[b] = re[a] - tr;
          im[b] = im[a] - ti;
          re[a] = re[a] + tr;
          im[a] = im[a] + ti;
        }
      }
    }
    if (inverse) {
      const float factor = 1.0f / static_cast<float>(n);
      for (int k = 0; k < n; ++k) {
        re[k] *= factor;
        im[k] *= factor;
      }
    }
  }

 private:
  int size_ = 0;
  std::vector<float> cosTable_;
  std::vector<float> sinTable_;
  std::vector<std::int32_t> bitReverse_;
};

}  // namespace vorlund::reference
