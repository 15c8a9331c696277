#include "suppressor/fft.h"

#include <emmintrin.h>

#include <cassert>
#include <cmath>
#include <utility>

#include "chain/fast_math.h"
#include "chain/lanes.h"
#include "chain/numbers.h"

namespace vorlund {
namespace {

// Four butterflies at once need four twiddles, so stages from this half-length up run four
// lanes wide; the two shorter stages are fused into one pass over groups of four.
constexpr int kLanes = 4;

// Flips the sign of the lanes whose mask bit is set: exact, unlike a multiply by -1 in general.
inline __m128 flipSigns(__m128 v, __m128 mask) noexcept {
  return _mm_xor_ps(v, mask);
}

// Table entries first, first + stride, first + 2 stride and first + 3 stride.
inline __m128 gatherTwiddles(const float* table, int first, int stride) noexcept {
  if (stride == 1) return _mm_loadu_ps(table + first);
  if (stride == 2) {
    return _mm_shuffle_ps(_mm_loadu_ps(table + first), _mm_loadu_ps(table + first + 4),
                          _MM_SHUFFLE(2, 0, 2, 0));
  }
  return _mm_setr_ps(table[first], table[first + stride], table[first + 2 * stride],
                     table[first + 3 * stride]);
}

// The stages of half-length 1 and 2 over every group of four entries. Lanes hold whole groups,
// so the pairs are gathered by shuffles and the "a - t" results by sign flips of "t".
void firstTwoStages(float* re, float* im, int m, int n, const float* cosTable,
                    const float* sinTable, __m128 sinSign) noexcept {
  const int quarter = n / 4;  // twiddle index of k = 1 at half-length 2
  const __m128 c1 = _mm_set1_ps(cosTable[0]);
  const __m128 s1 = flipSigns(_mm_set1_ps(sinTable[0]), sinSign);
  const __m128 c2 = _mm_setr_ps(cosTable[0], cosTable[quarter], cosTable[0], cosTable[quarter]);
  const __m128 s2 = flipSigns(
      _mm_setr_ps(sinTable[0], sinTable[quarter], sinTable[0], sinTable[quarter]), sinSign);
  const __m128 oddLanes = _mm_castsi128_ps(_mm_setr_epi32(0, INT32_MIN, 0, INT32_MIN));
  const __m128 upperLanes = _mm_castsi128_ps(_mm_setr_epi32(0, 0, INT32_MIN, INT32_MIN));
  for (int g = 0; g < m; g += kLanes) {
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

// One butterfly on four lanes of values held in registers.
inline void butterfly(__m128& ar, __m128& ai, __m128& br, __m128& bi, __m128 c, __m128 w) noexcept {
  const __m128 tr = _mm_sub_ps(_mm_mul_ps(br, c), _mm_mul_ps(bi, w));
  const __m128 ti = _mm_add_ps(_mm_mul_ps(br, w), _mm_mul_ps(bi, c));
  br = _mm_sub_ps(ar, tr);
  bi = _mm_sub_ps(ai, ti);
  ar = _mm_add_ps(ar, tr);
  ai = _mm_add_ps(ai, ti);
}

// Four butterflies of half-length `half` at a, sharing the twiddles c and w.
inline void butterflies4(float* re, float* im, int a, int half, __m128 c, __m128 w) noexcept {
  const int b = a + half;
  __m128 ar = _mm_loadu_ps(re + a), ai = _mm_loadu_ps(im + a);
  __m128 br = _mm_loadu_ps(re + b), bi = _mm_loadu_ps(im + b);
  butterfly(ar, ai, br, bi, c, w);
  _mm_storeu_ps(re + a, ar);
  _mm_storeu_ps(im + a, ai);
  _mm_storeu_ps(re + b, br);
  _mm_storeu_ps(im + b, bi);
}

// Every butterfly stage of an m-point transform whose input is already in bit-reversed order,
// with the tables of the n-point transform (m divides n): the factor of butterfly k at
// half-length h is entry k n/(2h) whatever m is.
void butterflyStages(float* re, float* im, int m, int n, const float* cosTable,
                     const float* sinTable, bool inverse) noexcept {
  // The inverse uses the conjugate factors: the sine table with its sign flipped.
  const __m128 sinSign = _mm_castsi128_ps(_mm_set1_epi32(inverse ? INT32_MIN : 0));
  if (m >= kLanes) {
    firstTwoStages(re, im, m, n, cosTable, sinTable, sinSign);
    for (int half = kLanes; half < m; half *= 2) {
      const int stride = n / (2 * half);
      for (int k = 0; k < half; k += kLanes) {
        const __m128 c = gatherTwiddles(cosTable, k * stride, stride);
        const __m128 w = flipSigns(gatherTwiddles(sinTable, k * stride, stride), sinSign);
        for (int s = 0; s < m; s += 2 * half) butterflies4(re, im, s + k, half, c, w);
      }
    }
  } else if (m == 2) {
    const float c = cosTable[0];
    const float w = inverse ? -sinTable[0] : sinTable[0];
    const float tr = re[1] * c - im[1] * w;
    const float ti = re[1] * w + im[1] * c;
    re[1] = re[0] - tr;
    im[1] = im[0] - ti;
    re[0] = re[0] + tr;
    im[0] = im[0] + ti;
  }
}

void scale(float* x, int n, float factor) noexcept {
  if (n >= kLanes) {
    const __m128 f = _mm_set1_ps(factor);
    for (int i = 0; i < n; i += kLanes) _mm_storeu_ps(x + i, _mm_mul_ps(_mm_loadu_ps(x + i), f));
  } else {
    for (int i = 0; i < n; ++i) x[i] *= factor;
  }
}

// Bins k and m - k (k < m/2, m = N/2) of a real frame's spectrum from the m-point transform z
// of its even (real part) and odd (imaginary part) samples: with E and O the transforms of the
// even and odd samples, E[k] = (Z[k] + conj Z[m-k]) / 2, O[k] = (Z[k] - conj Z[m-k]) / 2i,
// X[k] = E[k] + W^k O[k] and X[m-k] = conj(E[k] - W^k O[k]), W = exp(-2 pi i / N). T = Lanes
// handles four consecutive k (and the four m - k below them); z may share memory with the
// output, since every entry is read before its own pair is written.
template <typename T>
inline void splitBins(const float* zr, const float* zi, float* re, float* im, int k, int j,
                      const float* cosTable, const float* sinTable) noexcept {
  const T half = broadcast<T>(0.5f);
  const T ar = load<T>(zr + k), ai = load<T>(zi + k);
  const T br = reversed(load<T>(zr + j)), bi = reversed(load<T>(zi + j));
  const T er = (ar + br) * half, ei = (ai - bi) * half;
  const T oddRe = (ai + bi) * half, oddIm = (br - ar) * half;
  const T c = load<T>(cosTable + k), s = load<T>(sinTable + k);
  const T pr = c * oddRe - s * oddIm, pi = c * oddIm + s * oddRe;
  store(re + k, er + pr);
  store(im + k, ei + pi);
  store(re + j, reversed(er - pr));
  store(im + j, reversed(pi - ei));
}

// The inverse of splitBins: Z[k] and Z[m-k], twice their value (the final 1/N scaling absorbs
// the factor), from X[k] and X[m-k]: E = X[k] + conj X[m-k], O = (X[k] - conj X[m-k]) conj W^k,
// Z[k] = E + i O and Z[m-k] = conj E + i conj O. In place.
template <typename T>
inline void mergeBins(float* re, float* im, int k, int j, const float* cosTable,
                      const float* sinTable) noexcept {
  const T xr = load<T>(re + k), xi = load<T>(im + k);
  const T yr = reversed(load<T>(re + j)), yi = reversed(load<T>(im + j));
  const T er = xr + yr, ei = xi - yi;
  const T dr = xr - yr, di = xi + yi;
  const T c = load<T>(cosTable + k), s = load<T>(sinTable + k);
  const T oddRe = dr * c + di * s, oddIm = di * c - dr * s;
  store(re + k, er - oddIm);
  store(im + k, ei + oddRe);
  store(re + j, reversed(er + oddIm));
  store(im + j, reversed(oddRe - ei));
}

}  // namespace

void Fft::setup(int n) {
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

  bitReverse_.resize(n > 0 ? n : 0);
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
  butterflyStages(re, im, n, n, cosTable_.data(), sinTable_.data(), inverse);
  if (inverse && n > 0) {
    const float factor = 1.0f / static_cast<float>(n);
    scale(re, n, factor);
    scale(im, n, factor);
  }
}

void Fft::forwardReal(float* re, float* im) const noexcept {
  const int n = size_;
  if (n < 2) {
    if (n == 1) im[0] = 0.0f;
    return;
  }
  const int m = n / 2;
  const float* cosTable = cosTable_.data();
  const float* sinTable = sinTable_.data();
  // Even samples as real parts, odd samples as imaginary parts, straight into bit-reversed
  // order; reversing log2(m) bits of j is what the n-point table does to 2j.
  float* zr = im;
  float* zi = im + m;
  for (int j = 0; j < m; ++j) {
    const int r = bitReverse_[2 * j];
    zr[r] = re[2 * j];
    zi[r] = re[2 * j + 1];
  }
  butterflyStages(zr, zi, m, n, cosTable, sinTable, false);

  // Bin 0 and the Nyquist bin are the sum and the difference of the even and odd sums. The
  // Nyquist bin's imaginary part lands on zi[0], which is read first.
  const float sum0 = zr[0] + zi[0];
  const float difference0 = zr[0] - zi[0];
  re[0] = sum0;
  im[0] = 0.0f;
  re[m] = difference0;
  im[m] = 0.0f;
  int k = 1;
  for (; k + kLaneCount <= m - k - (kLaneCount - 1); k += kLaneCount)
    splitBins<Lanes>(zr, zi, re, im, k, m - k - (kLaneCount - 1), cosTable, sinTable);
  for (; k < m - k; ++k) splitBins<float>(zr, zi, re, im, k, m - k, cosTable, sinTable);
  if (k == m - k) {
    // Bin N/4 is its own partner: E = Re Z, O = Im Z, and X = E + W^(N/4) O.
    const float ar = zr[k];
    const float ai = zi[k];
    re[k] = ar + cosTable[k] * ai;
    im[k] = sinTable[k] * ai;
  }
}

void Fft::inverseReal(float* re, float* im) const noexcept {
  const int n = size_;
  if (n < 2) return;
  const int m = n / 2;
  const float* cosTable = cosTable_.data();
  const float* sinTable = sinTable_.data();
  const float first = re[0];
  const float nyquist = re[m];
  re[0] = first + nyquist;
  im[0] = first - nyquist;
  int k = 1;
  for (; k + kLaneCount <= m - k - (kLaneCount - 1); k += kLaneCount)
    mergeBins<Lanes>(re, im, k, m - k - (kLaneCount - 1), cosTable, sinTable);
  for (; k < m - k; ++k) mergeBins<float>(re, im, k, m - k, cosTable, sinTable);
  if (k == m - k) {
    // Bin N/4 is its own partner: E = 2 Re X, O = 2 i Im X conj W^(N/4).
    const float twiceIm = im[k] + im[k];
    re[k] = (re[k] + re[k]) - twiceIm * cosTable[k];
    im[k] = twiceIm * sinTable[k];
  }

  for (int j = 0; j < m; ++j) {
    const int r = bitReverse_[2 * j];
    if (j < r) {
      std::swap(re[j], re[r]);
      std::swap(im[j], im[r]);
    }
  }
  butterflyStages(re, im, m, n, cosTable, sinTable, true);

  // Interleave back into n real samples, from the top down so nothing is overwritten unread.
  const float factor = 1.0f / static_cast<float>(n);
  for (int p = m - 1; p >= 0; --p) {
    const float odd = im[p] * factor;
    const float even = re[p] * factor;
    re[2 * p + 1] = odd;
    re[2 * p] = even;
  }
}

}  // namespace vorlund
