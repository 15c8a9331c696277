// Built twice: as it stands (four lanes, SSE2) and with VORLUND_WIDE_LANES (eight lanes, AVX2,
// no contraction into fused multiply-adds), see src/CMakeLists.txt. Everything but the table at
// the end has internal linkage, and the headers' inline functions live in the lane set's
// namespace, so neither build lends the other a function. Each lane is one bin or one
// butterfly and computes exactly what a single float would, so both builds give the same bits.
#include "suppressor/spectrum_kernels.h"

#include <cstdint>
#include <type_traits>

#include "chain/fast_math.h"
#include "chain/lanes.h"

namespace vorlund {
inline namespace VORLUND_LANE_SET {
namespace {

// ---- The transform ----

template <typename T>
constexpr int kWidth = static_cast<int>(sizeof(T) / sizeof(float));
using Words4 = std::int32_t __attribute__((vector_size(16)));
using Words8 = std::int32_t __attribute__((vector_size(32)));
template <typename T>
using SignBits = std::conditional_t<sizeof(T) == 16, Words4, Words8>;

inline void swapValues(float& a, float& b) noexcept {
  const float t = a;
  a = b;
  b = t;
}

// Flips the sign of the lanes whose mask word is INT32_MIN: exact, unlike a multiply by -1.
template <typename T>
inline T flipSigns(T v, SignBits<T> mask) noexcept {
  return __builtin_bit_cast(T, __builtin_bit_cast(SignBits<T>, v) ^ mask);
}

// Table entries first, first + stride, first + 2 stride, ... one per lane.
template <typename T>
inline T gatherTwiddles(const float* table, int first, int stride) noexcept {
  if (stride == 1) return load<T>(table + first);
  if (stride == 2) {
    const T low = load<T>(table + first);
    const T high = load<T>(table + first + kWidth<T>);
    if constexpr (kWidth<T> == 4) {
      return __builtin_shufflevector(low, high, 0, 2, 4, 6);
    } else {
      return __builtin_shufflevector(low, high, 0, 2, 4, 6, 8, 10, 12, 14);
    }
  }
  const float* t = table + first;
  if constexpr (kWidth<T> == 4) {
    return T{t[0], t[stride], t[2 * stride], t[3 * stride]};
  } else {
    return T{t[0],          t[stride],     t[2 * stride], t[3 * stride],
             t[4 * stride], t[5 * stride], t[6 * stride], t[7 * stride]};
  }
}

// The entries of each group of four, rearranged; a wider vector holds two groups.
template <typename T, int A, int B, int C, int D>
inline T inGroups(T v) noexcept {
  if constexpr (kWidth<T> == 4) {
    return __builtin_shufflevector(v, v, A, B, C, D);
  } else {
    return __builtin_shufflevector(v, v, A, B, C, D, A + 4, B + 4, C + 4, D + 4);
  }
}

// A value per position in a group of four, repeated for every group the vector holds.
template <typename T, typename V, typename E>
inline V perGroup(E a, E b, E c, E d) noexcept {
  if constexpr (kWidth<T> == 4) {
    return V{a, b, c, d};
  } else {
    return V{a, b, c, d, a, b, c, d};
  }
}

// The stages of half-length 1 and 2 over every group of four entries. Lanes hold whole groups,
// so the pairs are gathered by shuffles and the "a - t" results by sign flips of "t".
template <typename T>
void firstTwoStages(float* re, float* im, int m, int n, const float* cosTable,
                    const float* sinTable, bool inverse) noexcept {
  using Mask = SignBits<T>;
  const int quarter = n / 4;  // twiddle index of k = 1 at half-length 2
  const T c1 = broadcast<T>(cosTable[0]);
  T s1 = broadcast<T>(sinTable[0]);
  const T c2 = perGroup<T, T>(cosTable[0], cosTable[quarter], cosTable[0], cosTable[quarter]);
  T s2 = perGroup<T, T>(sinTable[0], sinTable[quarter], sinTable[0], sinTable[quarter]);
  // The inverse uses the conjugate factors.
  if (inverse) {
    s1 = -s1;
    s2 = -s2;
  }
  const Mask oddLanes = perGroup<T, Mask>(0, INT32_MIN, 0, INT32_MIN);
  const Mask upperLanes = perGroup<T, Mask>(0, 0, INT32_MIN, INT32_MIN);
  for (int g = 0; g < m; g += kWidth<T>) {
    T xr = load<T>(re + g);
    T xi = load<T>(im + g);

    // Pairs (0, 1) and (2, 3).
    T ar = inGroups<T, 0, 0, 2, 2>(xr);
    T ai = inGroups<T, 0, 0, 2, 2>(xi);
    T br = inGroups<T, 1, 1, 3, 3>(xr);
    T bi = inGroups<T, 1, 1, 3, 3>(xi);
    T tr = br * c1 - bi * s1;
    T ti = br * s1 + bi * c1;
    xr = ar + flipSigns(tr, oddLanes);
    xi = ai + flipSigns(ti, oddLanes);

    // Pairs (0, 2) and (1, 3).
    ar = inGroups<T, 0, 1, 0, 1>(xr);
    ai = inGroups<T, 0, 1, 0, 1>(xi);
    br = inGroups<T, 2, 3, 2, 3>(xr);
    bi = inGroups<T, 2, 3, 2, 3>(xi);
    tr = br * c2 - bi * s2;
    ti = br * s2 + bi * c2;
    store(re + g, ar + flipSigns(tr, upperLanes));
    store(im + g, ai + flipSigns(ti, upperLanes));
  }
}

// One lane's worth of butterflies of half-length `half` at a, sharing the twiddles c and w.
template <typename T>
inline void butterflies(float* re, float* im, int a, int half, T c, T w) noexcept {
  const int b = a + half;
  const T ar = load<T>(re + a), ai = load<T>(im + a);
  const T br = load<T>(re + b), bi = load<T>(im + b);
  const T tr = br * c - bi * w;
  const T ti = br * w + bi * c;
  store(re + a, ar + tr);
  store(im + a, ai + ti);
  store(re + b, ar - tr);
  store(im + b, ai - ti);
}

// One stage of half-length `half` (a multiple of the width).
template <typename T>
void stage(float* re, float* im, int m, int n, int half, const float* cosTable,
           const float* sinTable, bool inverse) noexcept {
  const int stride = n / (2 * half);
  for (int k = 0; k < half; k += kWidth<T>) {
    const T c = gatherTwiddles<T>(cosTable, k * stride, stride);
    T w = gatherTwiddles<T>(sinTable, k * stride, stride);
    if (inverse) w = -w;
    for (int s = 0; s < m; s += 2 * half) butterflies<T>(re, im, s + k, half, c, w);
  }
}

// Every butterfly stage of an m-point transform whose input is already in bit-reversed order,
// with the tables of the n-point transform (m divides n): the factor of butterfly k at
// half-length h is entry k n/(2h) whatever m is. Stages as wide as the lanes run on all of
// them, narrower ones on four.
void butterflyStages(float* re, float* im, int m, int n, const float* cosTable,
                     const float* sinTable, bool inverse) noexcept {
  if (m >= 4) {
    if (m >= kLaneCount) {
      firstTwoStages<Lanes>(re, im, m, n, cosTable, sinTable, inverse);
    } else {
      firstTwoStages<Quad>(re, im, m, n, cosTable, sinTable, inverse);
    }
    for (int half = 4; half < m; half *= 2) {
      if (half >= kLaneCount) {
        stage<Lanes>(re, im, m, n, half, cosTable, sinTable, inverse);
      } else {
        stage<Quad>(re, im, m, n, half, cosTable, sinTable, inverse);
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
  int i = 0;
  const Lanes f = broadcast<Lanes>(factor);
  for (; i + kLaneCount <= n; i += kLaneCount) store(x + i, load<Lanes>(x + i) * f);
  for (; i < n; ++i) x[i] *= factor;
}

// Bins k and m - k (k < m/2, m = N/2) of a real frame's spectrum from the m-point transform z
// of its even (real part) and odd (imaginary part) samples: with E and O the transforms of the
// even and odd samples, E[k] = (Z[k] + conj Z[m-k]) / 2, O[k] = (Z[k] - conj Z[m-k]) / 2i,
// X[k] = E[k] + W^k O[k] and X[m-k] = conj(E[k] - W^k O[k]), W = exp(-2 pi i / N). T = Lanes
// handles consecutive k (and as many m - k below them); z may share memory with the output,
// since every entry is read before its own pair is written.
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

void transform(const FftTables& t, float* re, float* im, bool inverse) noexcept {
  const int n = t.size;
  const std::int32_t* reverse = t.bitReverse;
  for (int i = 0; i < n; ++i) {
    const int j = reverse[i];
    if (i < j) {
      swapValues(re[i], re[j]);
      swapValues(im[i], im[j]);
    }
  }
  butterflyStages(re, im, n, n, t.cosTable, t.sinTable, inverse);
  if (inverse && n > 0) {
    const float factor = 1.0f / static_cast<float>(n);
    scale(re, n, factor);
    scale(im, n, factor);
  }
}

void forwardReal(const FftTables& t, float* re, float* im) noexcept {
  const int n = t.size;
  if (n < 2) {
    if (n == 1) im[0] = 0.0f;
    return;
  }
  const int m = n / 2;
  const float* cosTable = t.cosTable;
  const float* sinTable = t.sinTable;
  // Even samples as real parts, odd samples as imaginary parts, straight into bit-reversed
  // order; reversing log2(m) bits of j is what the n-point table does to 2j.
  float* zr = im;
  float* zi = im + m;
  for (int j = 0; j < m; ++j) {
    const int r = t.bitReverse[2 * j];
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

void inverseReal(const FftTables& t, float* re, float* im) noexcept {
  const int n = t.size;
  if (n < 2) return;
  const int m = n / 2;
  const float* cosTable = t.cosTable;
  const float* sinTable = t.sinTable;
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
    const int r = t.bitReverse[2 * j];
    if (j < r) {
      swapValues(re[j], re[r]);
      swapValues(im[j], im[r]);
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

// ---- The estimator ----

// Keeps every bin power positive, so the noise estimate and the ratios below stay finite.
constexpr float kPowerFloor = 1e-20f;
// Speech presence from the likelihood ratio under a fixed a-priori SNR of 15 dB:
// 1 + 10^1.5 and 10^1.5 / (1 + 10^1.5).
constexpr float kPresenceOdds = 32.622776f;
constexpr float kPresenceScale = 0.96934658f;
constexpr float kMaxExponent = 80.0f;
// Above this average presence a bin counts as stuck on speech: its presence is capped so that
// its noise estimate keeps moving.
constexpr float kStagnationLimit = 0.99f;
// The noise estimate may sit at most this factor above the tracked minimum.
constexpr float kMinimumHeadroom = 4.0f;
// Floor of the a-priori SNR: 1e-4, -40 dB. It keeps the decision-directed estimate from
// locking shut (a bin whose clean estimate reached 0 would feed 0 back for good). The Wiener
// gain it allows, xi / (1 + xi) ~ 1e-4 or -80 dB, lies below the deepest gain floor the
// reduction setting can ask for (60 dB, 1e-3), so the floor itself is never heard.
constexpr float kMinXi = 1e-4f;

// The bin passes below run on bin k, or on bins k.. onwards when T is Lanes. The lanes are
// independent bins, so each computes exactly what the single-bin pass computes. The
// exponentials of the presence probabilities run as a vector pass of their own between them.

// Power of the bin and, while tracking, the exponent of its presence probability, parked in
// the gain array until the gains are computed.
template <typename T>
inline void measure(const BinPass& b, int k) noexcept {
  const T r = load<T>(b.re + k);
  const T i = load<T>(b.im + k);
  const T p = i * i + r * r + kPowerFloor;
  store(b.power + k, p);
  if (!b.inInit)
    store(b.gain + k, minOf(broadcast<T>(kMaxExponent), kPresenceScale * p / load<T>(b.noise + k)));
}

// The exponential of each parked exponent, in place.
template <typename T>
inline void exponential(const BinPass& b, int k) noexcept {
  store(b.gain + k, fastExp(-load<T>(b.gain + k)));
}

// Noise estimate and raw Wiener gain.
template <typename T>
inline void estimateBin(const BinPass& b, int k) noexcept {
  const T p = load<T>(b.power + k);
  T estimate = load<T>(b.noise + k);
  if (b.inInit) {
    // Running mean of the frame powers since the (re)start.
    estimate = b.firstFrame ? p : estimate + (p - estimate) / b.initDivisor;
    if (b.lastInitFrame) {
      store(b.currentMin + k, estimate);
      store(b.smoothedPower + k, estimate);
      for (int s = 0; s < BinPass::kRingSlots; ++s) store(b.ring + s * b.bins + k, estimate);
    }
  } else {
    T presence = 1.0f / (1.0f + kPresenceOdds * load<T>(b.gain + k));
    const T average =
        (1.0f - b.alphaPresence) * presence + b.alphaPresence * load<T>(b.presenceAvg + k);
    store(b.presenceAvg + k, average);
    const T stagnationLimit = broadcast<T>(kStagnationLimit);
    presence = average > stagnationLimit ? minOf(stagnationLimit, presence) : presence;
    estimate = ((1.0f - presence) * p + presence * estimate) * (1.0f - b.alphaNoise) +
               b.alphaNoise * estimate;

    const T smoothed = (1.0f - b.alphaSmooth) * p + b.alphaSmooth * load<T>(b.smoothedPower + k);
    store(b.smoothedPower + k, smoothed);
    T subwindowMin = minOf(load<T>(b.currentMin + k), smoothed);
    T minimum = subwindowMin;
    for (int s = 0; s < BinPass::kRingSlots; ++s)
      minimum = minOf(minimum, load<T>(b.ring + s * b.bins + k));
    estimate = minOf(kMinimumHeadroom * minimum, estimate);
    if (b.subwindowEnd) {
      store(b.ringRow + k, subwindowMin);
      subwindowMin = smoothed;
    }
    store(b.currentMin + k, subwindowMin);
  }
  store(b.noise + k, estimate);

  // Wiener gain on the decision-directed a-priori SNR.
  const T scaledNoise = estimate * b.overSubtraction + kPowerFloor;
  T xi = (1.0f - b.alphaDecision) * maxOf(broadcast<T>(0.0f), p / scaledNoise - 1.0f) +
         (b.alphaDecision * load<T>(b.prevClean + k)) / scaledNoise;
  xi = maxOf(broadcast<T>(kMinXi), xi);
  const T g = xi / (xi + 1.0f);
  store(b.gain + k, g);
  store(b.prevClean + k, g * g * p);
}

void estimate(const BinPass& pass) noexcept {
  // A local copy, which no store through the arrays can alias: its fields stay in registers.
  const BinPass b = pass;
  const int bins = b.bins;
  const int nyquist = bins - 1;
  // Bins 0..N/2 - 1 a vector at a time (N/2 is a multiple of eight), then the Nyquist bin.
  int k = 0;
  for (; k + kLaneCount <= nyquist; k += kLaneCount) measure<Lanes>(b, k);
  for (; k < bins; ++k) measure<float>(b, k);
  if (!b.inInit) {
    for (k = 0; k + kLaneCount <= bins; k += kLaneCount) exponential<Lanes>(b, k);
    for (; k < bins; ++k) exponential<float>(b, k);
  }
  for (k = 0; k + kLaneCount <= nyquist; k += kLaneCount) estimateBin<Lanes>(b, k);
  for (; k < bins; ++k) estimateBin<float>(b, k);
}

// Smoothed gain of bin k (or bins k..) from the raw gains of it and its neighbours at `left`
// and `right`, applied to the bin.
template <typename T>
inline void smoothAndApply(const GainPass& g, int k, int left, int right) noexcept {
  const T spread =
      0.5f * load<T>(g.gain + k) + 0.25f * load<T>(g.gain + left) + 0.25f * load<T>(g.gain + right);
  const T target = g.enabled ? maxOf(broadcast<T>(g.floorGain), spread) : broadcast<T>(1.0f);
  const T state = load<T>(g.smoothGain + k);
  const T coefficient = target > state ? broadcast<T>(g.attack) : broadcast<T>(g.release);
  const T smoothed = (state - target) * coefficient + target;
  store(g.smoothGain + k, smoothed);
  store(g.re + k, load<T>(g.re + k) * smoothed);
  store(g.im + k, load<T>(g.im + k) * smoothed);
}

void applyGains(const GainPass& pass) noexcept {
  const GainPass g = pass;  // as in estimate()
  const int bins = g.bins;
  const int nyquist = bins - 1;
  // The edge bins count themselves in place of the missing neighbour.
  smoothAndApply<float>(g, 0, 0, nyquist < 1 ? nyquist : 1);
  int k = 1;
  for (; k + kLaneCount <= nyquist; k += kLaneCount) smoothAndApply<Lanes>(g, k, k - 1, k + 1);
  for (; k < bins; ++k) smoothAndApply<float>(g, k, k - 1, k + 1 < nyquist ? k + 1 : nyquist);
}

constexpr SpectrumKernels kKernels{transform, forwardReal, inverseReal, estimate, applyGains};

}  // namespace

const SpectrumKernels& spectrumKernels() noexcept {
  return kKernels;
}

}  // namespace VORLUND_LANE_SET
}  // namespace vorlund
