#include "suppressor/fft.h"

#include <emmintrin.h>

#include <cmath>
#include <utility>

namespace vorlund {
namespace {

// Four butterflies at once need four contiguous twiddles, so stages from this half-length up
// run four lanes wide; the two shorter stages are fused into one pass over groups of four.
constexpr int kLanes = 4;

// Flips the sign of the lanes whose mask bit is set: exact, unlike a multiply by -1 in general.
inline __m128 flipSigns(__m128 v, __m128 mask) noexcept {
  return _mm_xor_ps(v, mask);
}

// The stages of half-length 1 and 2 over every group of four entries. Lanes hold whole groups,
// so the pairs are gathered by shuffles and the "a - t" results by sign flips of "t".
void firstTwoStages(float* re, float* im, int n, const float* cosTable, const float* sinTable,
                    __m128 sinSign) noexcept {
  const __m128 c1 = _mm_set1_ps(cosTable[1]);
  const __m128 s1 = flipSigns(_mm_set1_ps(sinTable[1]), sinSign);
  const __m128 c2 = _mm_setr_ps(cosTable[2], cosTable[3], cosTable[2], cosTable[3]);
  const __m128 s2 =
      flipSigns(_mm_setr_ps(sinTable[2], sinTable[3], sinTable[2], sinTable[3]), sinSign);
  const __m128 oddLanes = _mm_castsi128_ps(_mm_setr_epi32(0, INT32_MIN, 0, INT32_MIN));
  const __m128 upperLanes = _mm_castsi128_ps(_mm_setr_epi32(0, 0, INT32_MIN, INT32_MIN));
  for (int g = 0; g < n; g += kLanes) {
    __m128 xr = _mm_loadu_ps(re + g);
    __m128 xi = _mm_loadu_ps(im + g);

    // Pairs (0, 1) and (2, 3).
    __m128 ar = _mm_shuffle_ps(xr, xr, _MM_SHUFFLE(2, 2, 0, 0));
    __m128 ai = _mm_shuffle_ps(xi, xi, _MM_SHUFFLE(2, 2, 0, 0));
    __m128 br = _mm_shuffle_ps(xr, xr, _MM_SHUFFLE(3, 3, 1, 1));
    __m128 bi = _mm_shuffle_ps(xi, xi, _MM_SHUFFLE(3, 3, 1, 1));
    __m128 tr = _mm_sub_ps(_mm_mul_ps(br, c1), _mm_mul_ps(bi, s1));
    __m128 ti = _mm_add_ps(_mm_mul_ps(br, s1), _mm_mul_ps(bi, c1));
    xr = _mm_add_ps(ar, flipSigns(tr, oddLanes));
    xi = _mm_add_ps(ai, flipSigns(ti, oddLanes));

    // Pairs (0, 2) and (1, 3).
    ar = _mm_shuffle_ps(xr, xr, _MM_SHUFFLE(1, 0, 1, 0));
    ai = _mm_shuffle_ps(xi, xi, _MM_SHUFFLE(1, 0, 1, 0));
    br = _mm_shuffle_ps(xr, xr, _MM_SHUFFLE(3, 2, 3, 2));
    bi = _mm_shuffle_ps(xi, xi, _MM_SHUFFLE(3, 2, 3, 2));
    tr = _mm_sub_ps(_mm_mul_ps(br, c2), _mm_mul_ps(bi, s2));
    ti = _mm_add_ps(_mm_mul_ps(br, s2), _mm_mul_ps(bi, c2));
    _mm_storeu_ps(re + g, _mm_add_ps(ar, flipSigns(tr, upperLanes)));
    _mm_storeu_ps(im + g, _mm_add_ps(ai, flipSigns(ti, upperLanes)));
  }
}

// One stage of half-length `half` (a multiple of four), four butterflies per step.
void wideStage(float* re, float* im, int n, int half, const float* cosTable, const float* sinTable,
               __m128 sinSign) noexcept {
  const int len = 2 * half;
  for (int s = 0; s < n; s += len) {
    float* aRe = re + s;
    float* aIm = im + s;
    float* bRe = aRe + half;
    float* bIm = aIm + half;
    for (int k = 0; k < half; k += kLanes) {
      const __m128 c = _mm_loadu_ps(cosTable + half + k);
      const __m128 w = flipSigns(_mm_loadu_ps(sinTable + half + k), sinSign);
      const __m128 br = _mm_loadu_ps(bRe + k);
      const __m128 bi = _mm_loadu_ps(bIm + k);
      const __m128 tr = _mm_sub_ps(_mm_mul_ps(br, c), _mm_mul_ps(bi, w));
      const __m128 ti = _mm_add_ps(_mm_mul_ps(br, w), _mm_mul_ps(bi, c));
      const __m128 ar = _mm_loadu_ps(aRe + k);
      const __m128 ai = _mm_loadu_ps(aIm + k);
      _mm_storeu_ps(bRe + k, _mm_sub_ps(ar, tr));
      _mm_storeu_ps(bIm + k, _mm_sub_ps(ai, ti));
      _mm_storeu_ps(aRe + k, _mm_add_ps(ar, tr));
      _mm_storeu_ps(aIm + k, _mm_add_ps(ai, ti));
    }
  }
}

void scale(float* x, int n, float factor) noexcept {
  const __m128 f = _mm_set1_ps(factor);
  for (int i = 0; i < n; i += kLanes) _mm_storeu_ps(x + i, _mm_mul_ps(_mm_loadu_ps(x + i), f));
}

}  // namespace

void Fft::setup(int n) {
  constexpr double kTwoPi = 6.283185307179586;
  size_ = n;
  int bits = 0;
  for (int v = 1; v < n; v *= 2) bits += 1;

  // Entry half + k holds the factor that the plain table holds at j = k * N / (2 half); the
  // angle is formed from j exactly as for that table, so both agree bit for bit.
  twiddleCos_.assign(n > 1 ? n : 1, 0.0f);
  twiddleSin_.assign(n > 1 ? n : 1, 0.0f);
  for (int half = 1; half < n; half *= 2) {
    const int step = n / (2 * half);
    for (int k = 0; k < half; ++k) {
      const double angle = static_cast<double>(k * step) * -kTwoPi / n;
      twiddleCos_[half + k] = static_cast<float>(std::cos(angle));
      twiddleSin_[half + k] = static_cast<float>(std::sin(angle));
    }
  }

  bitReverse_.assign(n > 0 ? n : 0, 0);
  for (int j = 0; j < n; ++j) {
    std::int32_t r = 0;
    for (int k = 0; k < bits; ++k)
      if ((j >> k) & 1) r |= 1 << (bits - 1 - k);
    bitReverse_[j] = r;
  }
}

void Fft::transform(float* re, float* im, bool inverse) const noexcept {
  const int n = size_;
  const std::int32_t* reverse = bitReverse_.data();
  for (int i = 0; i < n; ++i) {
    const int j = reverse[i];
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }

  const float* cosTable = twiddleCos_.data();
  const float* sinTable = twiddleSin_.data();
  // The inverse uses the conjugate factors: the sine table with its sign flipped.
  const __m128 sinSign = _mm_castsi128_ps(_mm_set1_epi32(inverse ? INT32_MIN : 0));
  if (n >= kLanes) {
    firstTwoStages(re, im, n, cosTable, sinTable, sinSign);
    for (int half = kLanes; half < n; half *= 2)
      wideStage(re, im, n, half, cosTable, sinTable, sinSign);
  } else if (n == 2) {
    // Too short for the lanes; the one butterfly has the factor 1.
    const float tr = re[1];
    const float ti = im[1];
    re[1] = re[0] - tr;
    im[1] = im[0] - ti;
    re[0] += tr;
    im[0] += ti;
  }

  if (inverse && n > 0) {
    const float factor = 1.0f / static_cast<float>(n);
    if (n >= kLanes) {
      scale(re, n, factor);
      scale(im, n, factor);
    } else {
      for (int i = 0; i < n; ++i) {
        re[i] *= factor;
        im[i] *= factor;
      }
    }
  }
}

}  // namespace vorlund
