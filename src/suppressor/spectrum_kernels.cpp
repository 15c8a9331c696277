// Layer: signal
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

// ---- The real-input pair's N/2-point transform in radix 4 ----
//
// From kMinRadix4Points points on, the pair's complex transform runs in radix-4 stages, with
// one radix-2 stage to complete an odd power of two: the forward one decimating in time (from
// bit-reversed to natural order), the inverse one in frequency (from natural to bit-reversed
// order). The bit reversal is no pass of its own: the forward transform's first stage (the
// radix-2 half-lengths 1 and 2, whose factors are 1 and -i) takes its four inputs from natural
// positions r, r + m/2, r + m/4 and r + 3m/4, straight from the frame's even and odd samples,
// and writes its four results as the group at bit-reversed position rev(r); the inverse
// transform's last stage is its mirror image and writes the samples, scaled and interleaved.
// For the suppressor's frame the two also apply the window, and the last the overlap-add, on
// the way (forwardFrame, inverseFrame). Each stage takes its factors from a table of its own (Fft),
// read contiguously. A lane is one point of a stage, so every width gives the same bits.

constexpr int kMinRadix4Points = 16;

// Transposes each 4 x 4 block held in four registers' groups of four lanes: entry j of group g
// of v[i] trades places with entry i of group g of v[j].
template <typename T>
inline void transposeGroups(T& v0, T& v1, T& v2, T& v3) noexcept {
  T t0, t1, t2, t3;
  if constexpr (kWidth<T> == 4) {
    t0 = __builtin_shufflevector(v0, v1, 0, 4, 1, 5);
    t1 = __builtin_shufflevector(v0, v1, 2, 6, 3, 7);
    t2 = __builtin_shufflevector(v2, v3, 0, 4, 1, 5);
    t3 = __builtin_shufflevector(v2, v3, 2, 6, 3, 7);
    v0 = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    v1 = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    v2 = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    v3 = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
  } else {
    t0 = __builtin_shufflevector(v0, v1, 0, 8, 1, 9, 4, 12, 5, 13);
    t1 = __builtin_shufflevector(v0, v1, 2, 10, 3, 11, 6, 14, 7, 15);
    t2 = __builtin_shufflevector(v2, v3, 0, 8, 1, 9, 4, 12, 5, 13);
    t3 = __builtin_shufflevector(v2, v3, 2, 10, 3, 11, 6, 14, 7, 15);
    v0 = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
    v1 = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
    v2 = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
    v3 = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
  }
}

// Lane l of a, b, c and d as the group of four at base + offsets[l], for every lane.
template <typename T>
inline void storeGroups(float* base, const int* offsets, T a, T b, T c, T d) noexcept {
  transposeGroups(a, b, c, d);
  const T rows[] = {a, b, c, d};
  for (int i = 0; i < 4; ++i) {
    if constexpr (kWidth<T> == 4) {
      store(base + offsets[i], rows[i]);
    } else {
      store(base + offsets[i], Quad(__builtin_shufflevector(rows[i], rows[i], 0, 1, 2, 3)));
      store(base + offsets[i + 4], Quad(__builtin_shufflevector(rows[i], rows[i], 4, 5, 6, 7)));
    }
  }
}

// The inverse of storeGroups: the group of four at base + offsets[l] into lane l of a, b, c, d.
template <typename T>
inline void loadGroups(const float* base, const int* offsets, T& a, T& b, T& c, T& d) noexcept {
  T rows[4];
  for (int i = 0; i < 4; ++i) {
    if constexpr (kWidth<T> == 4) {
      rows[i] = load<T>(base + offsets[i]);
    } else {
      const Quad low = load<Quad>(base + offsets[i]);
      const Quad high = load<Quad>(base + offsets[i + 4]);
      rows[i] = __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
    }
  }
  a = rows[0];
  b = rows[1];
  c = rows[2];
  d = rows[3];
  transposeGroups(a, b, c, d);
}

// The even and the odd entries of the 2 width floats at x.
template <typename T>
inline void deinterleave(const float* x, T& even, T& odd) noexcept {
  const T low = load<T>(x);
  const T high = load<T>(x + kWidth<T>);
  if constexpr (kWidth<T> == 4) {
    even = __builtin_shufflevector(low, high, 0, 2, 4, 6);
    odd = __builtin_shufflevector(low, high, 1, 3, 5, 7);
  } else {
    even = __builtin_shufflevector(low, high, 0, 2, 4, 6, 8, 10, 12, 14);
    odd = __builtin_shufflevector(low, high, 1, 3, 5, 7, 9, 11, 13, 15);
  }
}

// The inverse of deinterleave: the 2 width floats whose even entries are `even` and odd ones
// `odd`, as two vectors.
template <typename T>
inline void interleave(T even, T odd, T& low, T& high) noexcept {
  if constexpr (kWidth<T> == 4) {
    low = __builtin_shufflevector(even, odd, 0, 4, 1, 5);
    high = __builtin_shufflevector(even, odd, 2, 6, 3, 7);
  } else {
    low = __builtin_shufflevector(even, odd, 0, 8, 1, 9, 2, 10, 3, 11);
    high = __builtin_shufflevector(even, odd, 4, 12, 5, 13, 6, 14, 7, 15);
  }
}

// Offsets of each lane's group: rev(r + l) = rev(r) + rev(l) for r a multiple of the width.
// rev reverses log2(m) bits, which the N-point table does to 2j.
template <typename T>
inline void laneOffsets(const std::int32_t* bitReverse, int* offsets) noexcept {
  for (int l = 0; l < kWidth<T>; ++l) offsets[l] = bitReverse[2 * l];
}

// The forward transform's first stage, from the frame (even samples the real parts, odd ones
// the imaginary parts), times the window if kWindowed, into zr and zi in bit-reversed groups.
// The frame comes as its four quarters of m/2 samples, which hold the points m/4 apart.
template <typename T, bool kWindowed>
void firstStageFromFrame(const FramePass& frame, float* zr, float* zi, int m,
                         const std::int32_t* bitReverse) noexcept {
  const int quarter = m / 4;
  const int hop = m / 2;
  int offsets[kWidth<T>];
  laneOffsets<T>(bitReverse, offsets);
  const float* window = frame.window;
  auto windowed = [&](int q, int r, T& even, T& odd) {
    deinterleave(frame.quarters[q] + 2 * r, even, odd);
    if constexpr (kWindowed) {
      T we, wo;
      deinterleave(window + q * hop + 2 * r, we, wo);
      even *= we;
      odd *= wo;
    }
  };
  for (int r = 0; r < quarter; r += kWidth<T>) {
    T ar, ai, br, bi, cr, ci, dr, di;
    windowed(0, r, ar, ai);  // z[r]
    windowed(2, r, br, bi);  // z[r + m/2]
    windowed(1, r, cr, ci);  // z[r + m/4]
    windowed(3, r, dr, di);  // z[r + 3m/4]
    // Half-length 1: the pairs (a, b) and (c, d), factor 1.
    const T pr = ar + br, pi = ai + bi, qr = ar - br, qi = ai - bi;
    const T ur = cr + dr, ui = ci + di, vr = cr - dr, vi = ci - di;
    // Half-length 2: the pairs (p, u) with factor 1 and (q, v) with factor -i.
    const int at = bitReverse[2 * r];
    storeGroups(zr + at, offsets, pr + ur, qr + vi, pr - ur, qr - vi);
    storeGroups(zi + at, offsets, pi + ui, qi - vr, pi - ui, qi + vr);
  }
}

// The inverse transform's last stage, from zr and zi in bit-reversed groups to the samples,
// times `factor`, into the frame's output (N samples). If kOverlapAdd, the samples are then
// multiplied by the window and a half and overlap-added instead: quarter q of the frame adds to
// quarter q of the overlap, and the sums move down a quarter (the first into the output, one
// hop), so the overlap's top quarter stays zero.
template <typename T, bool kOverlapAdd>
void lastStageToFrame(const float* zr, const float* zi, const FramePass& frame, int m,
                      const std::int32_t* bitReverse, float factor) noexcept {
  const int quarter = m / 4;
  const int hop = m / 2;
  const T f = broadcast<T>(factor);
  const T half = broadcast<T>(0.5f);
  int offsets[kWidth<T>];
  laneOffsets<T>(bitReverse, offsets);
  const float* window = frame.window;
  float* overlap = frame.overlap;
  // Quarter q's samples at 2r..; its overlap quarter is read before quarter q - 1 is written.
  auto add = [&](int q, int r, T even, T odd) {
    T low, high;
    interleave(even * f, odd * f, low, high);
    const int at = q * hop + 2 * r;
    if constexpr (!kOverlapAdd) {
      store(frame.output + at, low);
      store(frame.output + at + kWidth<T>, high);
      return;
    }
    float* to = q == 0 ? frame.output + 2 * r : overlap + at - hop;
    store(to, load<T>(overlap + at) + load<T>(window + at) * low * half);
    store(to + kWidth<T>,
          load<T>(overlap + at + kWidth<T>) + load<T>(window + at + kWidth<T>) * high * half);
  };
  for (int r = 0; r < quarter; r += kWidth<T>) {
    const int at = bitReverse[2 * r];
    T ar, br, cr, dr, ai, bi, ci, di;
    loadGroups(zr + at, offsets, ar, br, cr, dr);
    loadGroups(zi + at, offsets, ai, bi, ci, di);
    // Half-length 2 (factors 1 and i), then half-length 1 (factor 1).
    const T pr = ar + cr, pi = ai + ci, qr = ar - cr, qi = ai - ci;
    const T ur = br + dr, ui = bi + di, vr = br - dr, vi = bi - di;
    add(0, r, pr + ur, pi + ui);  // z[r]
    add(1, r, qr - vi, qi + vr);  // z[r + m/4]
    add(2, r, pr - ur, pi - ui);  // z[r + m/2]
    add(3, r, qr + vi, qi - vr);  // z[r + 3m/4]
  }
}

// The factors of a radix-4 stage of half-length h (radix-2 half-lengths h and 2h): for
// butterfly k, W^k, W^2k and W^3k, W = exp(-2 pi i / 4h), as six rows of h: the cosines and
// sines of each.
struct Radix4Factors {
  const float* c1;
  const float* s1;
  const float* c2;
  const float* s2;
  const float* c3;
  const float* s3;
  Radix4Factors(const float* table, int h) noexcept
      : c1(table),
        s1(table + h),
        c2(table + 2 * h),
        s2(table + 3 * h),
        c3(table + 4 * h),
        s3(table + 5 * h) {}
};

// Operands of a radix-4 stage: as many consecutive points as T has lanes or, kPaired (eight
// lanes, half-length 4), four points of each of two neighbouring butterfly groups, 4h apart,
// which share their factors.
template <typename T, bool kPaired>
struct StageAccess {
  static constexpr int kStep = kPaired ? kWidth<T> / 2 : kWidth<T>;
  static T get(const float* p, [[maybe_unused]] int apart) noexcept {
    if constexpr (kPaired) {
      return __builtin_shufflevector(load<Quad>(p), load<Quad>(p + apart), 0, 1, 2, 3, 4, 5, 6, 7);
    } else {
      return load<T>(p);
    }
  }
  static void put(float* p, [[maybe_unused]] int apart, T v) noexcept {
    if constexpr (kPaired) {
      store(p, Quad(__builtin_shufflevector(v, v, 0, 1, 2, 3)));
      store(p + apart, Quad(__builtin_shufflevector(v, v, 4, 5, 6, 7)));
    } else {
      store(p, v);
    }
  }
  static T factor(const float* p) noexcept {
    if constexpr (kPaired) {
      const Quad q = load<Quad>(p);
      return __builtin_shufflevector(q, q, 0, 1, 2, 3, 0, 1, 2, 3);
    } else {
      return load<T>(p);
    }
  }
};

// Forward radix-4 stage of half-length h in time decimation, lanes over k.
template <typename T, bool kPaired = false>
void radix4ForwardStage(float* re, float* im, int m, int h, const float* table) noexcept {
  using A = StageAccess<T, kPaired>;
  const Radix4Factors w(table, h);
  const int apart = 4 * h;
  for (int s = 0; s < m; s += kPaired ? 2 * apart : apart) {
    for (int k = 0; k < h; k += A::kStep) {
      float* xr = re + s + k;
      float* xi = im + s + k;
      const T ar = A::get(xr, apart), ai = A::get(xi, apart);
      T c = A::factor(w.c2 + k), sn = A::factor(w.s2 + k);
      T yr = A::get(xr + h, apart), yi = A::get(xi + h, apart);
      const T br = yr * c - yi * sn, bi = yr * sn + yi * c;
      c = A::factor(w.c1 + k);
      sn = A::factor(w.s1 + k);
      yr = A::get(xr + 2 * h, apart);
      yi = A::get(xi + 2 * h, apart);
      const T cr = yr * c - yi * sn, ci = yr * sn + yi * c;
      c = A::factor(w.c3 + k);
      sn = A::factor(w.s3 + k);
      yr = A::get(xr + 3 * h, apart);
      yi = A::get(xi + 3 * h, apart);
      const T dr = yr * c - yi * sn, di = yr * sn + yi * c;
      const T pr = ar + br, pi = ai + bi, qr = ar - br, qi = ai - bi;
      const T ur = cr + dr, ui = ci + di, vr = cr - dr, vi = ci - di;
      A::put(xr, apart, pr + ur);
      A::put(xi, apart, pi + ui);
      A::put(xr + h, apart, qr + vi);
      A::put(xi + h, apart, qi - vr);
      A::put(xr + 2 * h, apart, pr - ur);
      A::put(xi + 2 * h, apart, pi - ui);
      A::put(xr + 3 * h, apart, qr - vi);
      A::put(xi + 3 * h, apart, qi + vr);
    }
  }
}

// Inverse radix-4 stage of half-length h in frequency decimation (conjugate factors), lanes
// over k.
template <typename T, bool kPaired = false>
void radix4InverseStage(float* re, float* im, int m, int h, const float* table) noexcept {
  using A = StageAccess<T, kPaired>;
  const Radix4Factors w(table, h);
  const int apart = 4 * h;
  for (int s = 0; s < m; s += kPaired ? 2 * apart : apart) {
    for (int k = 0; k < h; k += A::kStep) {
      float* xr = re + s + k;
      float* xi = im + s + k;
      const T ar = A::get(xr, apart), ai = A::get(xi, apart);
      const T br = A::get(xr + h, apart), bi = A::get(xi + h, apart);
      const T cr = A::get(xr + 2 * h, apart), ci = A::get(xi + 2 * h, apart);
      const T dr = A::get(xr + 3 * h, apart), di = A::get(xi + 3 * h, apart);
      const T pr = ar + cr, pi = ai + ci, qr = ar - cr, qi = ai - ci;
      const T ur = br + dr, ui = bi + di, vr = br - dr, vi = bi - di;
      A::put(xr, apart, pr + ur);
      A::put(xi, apart, pi + ui);
      T yr = pr - ur, yi = pi - ui;
      T c = A::factor(w.c2 + k), sn = A::factor(w.s2 + k);
      A::put(xr + h, apart, yr * c + yi * sn);
      A::put(xi + h, apart, yi * c - yr * sn);
      yr = qr - vi;
      yi = qi + vr;
      c = A::factor(w.c1 + k);
      sn = A::factor(w.s1 + k);
      A::put(xr + 2 * h, apart, yr * c + yi * sn);
      A::put(xi + 2 * h, apart, yi * c - yr * sn);
      yr = qr + vi;
      yi = qi - vr;
      c = A::factor(w.c3 + k);
      sn = A::factor(w.s3 + k);
      A::put(xr + 3 * h, apart, yr * c + yi * sn);
      A::put(xi + 3 * h, apart, yi * c - yr * sn);
    }
  }
}

// The radix-2 stage of half-length h = m/2 that completes an odd power of two, factors W^k,
// W = exp(-2 pi i / m), as two rows of h: forward in time decimation (the last stage) or
// inverse in frequency decimation (the first).
template <bool kInverse>
void radix2Half(float* re, float* im, int h, const float* table) noexcept {
  for (int k = 0; k < h; k += kLaneCount) {
    const Lanes c = load<Lanes>(table + k), sn = load<Lanes>(table + h + k);
    const Lanes ar = load<Lanes>(re + k), ai = load<Lanes>(im + k);
    const Lanes yr = load<Lanes>(re + h + k), yi = load<Lanes>(im + h + k);
    if constexpr (kInverse) {
      const Lanes dr = ar - yr, di = ai - yi;
      store(re + k, ar + yr);
      store(im + k, ai + yi);
      store(re + h + k, dr * c + di * sn);
      store(im + h + k, di * c - dr * sn);
    } else {
      const Lanes br = yr * c - yi * sn, bi = yr * sn + yi * c;
      store(re + k, ar + br);
      store(im + k, ai + bi);
      store(re + h + k, ar - br);
      store(im + h + k, ai - bi);
    }
  }
}

// Whether the radix-4 stage of half-length h runs paired (StageAccess): eight lanes, h = 4, and
// at least two butterfly groups.
constexpr bool pairedStage(int h, int m) noexcept {
  return kLaneCount == 8 && 2 * h == kLaneCount && 8 * h <= m;
}

// The stages after the first of a forward transform of m >= kMinRadix4Points points, with the
// stage tables laid out as Fft builds them: the radix-4 stages by rising h = 4, 16, ..., then
// the radix-2 stage if m is an odd power of two.
void forwardStages(float* re, float* im, int m, const float* table) noexcept {
  int h = 4;
  for (; 4 * h <= m; h *= 4) {
    if (h >= kLaneCount) {
      radix4ForwardStage<Lanes>(re, im, m, h, table);
    } else if (pairedStage(h, m)) {
      if constexpr (kLaneCount == 8) radix4ForwardStage<Lanes, true>(re, im, m, h, table);
    } else {
      radix4ForwardStage<Quad>(re, im, m, h, table);
    }
    table += 6 * h;
  }
  if (h == m / 2) radix2Half<false>(re, im, h, table);
}

// The stages before the last of an inverse transform, in the opposite order.
void inverseStages(float* re, float* im, int m, const float* table) noexcept {
  int h = 4;
  int offset = 0;
  for (; 4 * h <= m; h *= 4) offset += 6 * h;
  if (h == m / 2) radix2Half<true>(re, im, h, table + offset);
  for (h /= 4; h >= 4; h /= 4) {
    offset -= 6 * h;
    if (h >= kLaneCount) {
      radix4InverseStage<Lanes>(re, im, m, h, table + offset);
    } else if (pairedStage(h, m)) {
      if constexpr (kLaneCount == 8) radix4InverseStage<Lanes, true>(re, im, m, h, table + offset);
    } else {
      radix4InverseStage<Quad>(re, im, m, h, table + offset);
    }
  }
}

// The radix-4 transform's stages, from the frame to zr and zi.
template <bool kWindowed>
void radix4Forward(const FftTables& t, const FramePass& frame, float* zr, float* zi) noexcept {
  const int m = t.size / 2;
  if (m / 4 >= kLaneCount) {
    firstStageFromFrame<Lanes, kWindowed>(frame, zr, zi, m, t.bitReverse);
  } else {
    firstStageFromFrame<Quad, kWindowed>(frame, zr, zi, m, t.bitReverse);
  }
  forwardStages(zr, zi, m, t.stageTable);
}

// The radix-4 inverse transform's stages, from zr and zi to the frame.
template <bool kOverlapAdd>
void radix4Inverse(const FftTables& t, float* zr, float* zi, const FramePass& frame,
                   float factor) noexcept {
  const int m = t.size / 2;
  inverseStages(zr, zi, m, t.stageTable);
  if (m / 4 >= kLaneCount) {
    lastStageToFrame<Lanes, kOverlapAdd>(zr, zi, frame, m, t.bitReverse, factor);
  } else {
    lastStageToFrame<Quad, kOverlapAdd>(zr, zi, frame, m, t.bitReverse, factor);
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
// Z[k] = E + i O and Z[m-k] = conj E + i conj O, into zr and zi, which may be re and im or
// share memory with them at the pair's own entries.
template <typename T>
inline void mergeBins(const float* re, const float* im, float* zr, float* zi, int k, int j,
                      const float* cosTable, const float* sinTable) noexcept {
  const T xr = load<T>(re + k), xi = load<T>(im + k);
  const T yr = reversed(load<T>(re + j)), yi = reversed(load<T>(im + j));
  const T er = xr + yr, ei = xi - yi;
  const T dr = xr - yr, di = xi + yi;
  const T c = load<T>(cosTable + k), s = load<T>(sinTable + k);
  const T oddRe = dr * c + di * s, oddIm = di * c - dr * s;
  store(zr + k, er - oddIm);
  store(zi + k, ei + oddRe);
  store(zr + j, reversed(er + oddIm));
  store(zi + j, reversed(oddRe - ei));
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

// Bins 0..N/2 into re and im from the N/2-point transform z of the even and odd samples.
void splitSpectrum(const FftTables& t, const float* zr, const float* zi, float* re,
                   float* im) noexcept {
  const int m = t.size / 2;
  const float* cosTable = t.cosTable;
  const float* sinTable = t.sinTable;
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

// The inverse of splitSpectrum: twice the N/2-point transform z from bins 0..N/2 in re and im.
void mergeSpectrum(const FftTables& t, const float* re, const float* im, float* zr,
                   float* zi) noexcept {
  const int m = t.size / 2;
  const float* cosTable = t.cosTable;
  const float* sinTable = t.sinTable;
  const float first = re[0];
  const float nyquist = re[m];
  zr[0] = first + nyquist;
  zi[0] = first - nyquist;
  int k = 1;
  for (; k + kLaneCount <= m - k - (kLaneCount - 1); k += kLaneCount)
    mergeBins<Lanes>(re, im, zr, zi, k, m - k - (kLaneCount - 1), cosTable, sinTable);
  for (; k < m - k; ++k) mergeBins<float>(re, im, zr, zi, k, m - k, cosTable, sinTable);
  if (k == m - k) {
    // Bin N/4 is its own partner: E = 2 Re X, O = 2 i Im X conj W^(N/4).
    const float twiceIm = im[k] + im[k];
    const float twiceRe = re[k] + re[k];
    zr[k] = twiceRe - twiceIm * cosTable[k];
    zi[k] = twiceIm * sinTable[k];
  }
}

// The frame's quarters, each m/2 samples long, when it lies in one array.
FramePass framePass(float* x, int m) noexcept {
  return {{x, x + m / 2, x + m, x + 3 * m / 2}, nullptr, nullptr, x};
}

void forwardReal(const FftTables& t, float* re, float* im) noexcept {
  const int n = t.size;
  if (n < 2) {
    if (n == 1) im[0] = 0.0f;
    return;
  }
  const int m = n / 2;
  float* zr = im;
  float* zi = im + m;
  if (m >= kMinRadix4Points) {
    radix4Forward<false>(t, framePass(re, m), zr, zi);
  } else {
    // Even samples as real parts, odd samples as imaginary parts, straight into bit-reversed
    // order; reversing log2(m) bits of j is what the n-point table does to 2j.
    for (int j = 0; j < m; ++j) {
      const int r = t.bitReverse[2 * j];
      zr[r] = re[2 * j];
      zi[r] = re[2 * j + 1];
    }
    butterflyStages(zr, zi, m, n, t.cosTable, t.sinTable, false);
  }
  splitSpectrum(t, zr, zi, re, im);
}

void inverseReal(const FftTables& t, float* re, float* im) noexcept {
  const int n = t.size;
  if (n < 2) return;
  const int m = n / 2;
  const float factor = 1.0f / static_cast<float>(n);
  if (m >= kMinRadix4Points) {
    // Z goes to the work space as the last stage wants it: zr in im[0, m), zi in im[m, 2m).
    mergeSpectrum(t, re, im, im, im + m);
    radix4Inverse<false>(t, im, im + m, framePass(re, m), factor);
    return;
  }
  mergeSpectrum(t, re, im, re, im);
  for (int j = 0; j < m; ++j) {
    const int r = t.bitReverse[2 * j];
    if (j < r) {
      swapValues(re[j], re[r]);
      swapValues(im[j], im[r]);
    }
  }
  butterflyStages(re, im, m, n, t.cosTable, t.sinTable, true);

  // Interleave back into n real samples, from the top down so nothing is overwritten unread.
  for (int p = m - 1; p >= 0; --p) {
    const float odd = im[p] * factor;
    const float even = re[p] * factor;
    re[2 * p + 1] = odd;
    re[2 * p] = even;
  }
}

// The suppressor's frame, N >= 2 kMinRadix4Points: forwardReal of the windowed frame, and
// inverseReal followed by the window and the overlap-add.
void forwardFrame(const FftTables& t, const FramePass& frame, float* re, float* im) noexcept {
  const int m = t.size / 2;
  radix4Forward<true>(t, frame, im, im + m);
  splitSpectrum(t, im, im + m, re, im);
}

void inverseFrame(const FftTables& t, const float* re, float* im, const FramePass& frame) noexcept {
  const int m = t.size / 2;
  mergeSpectrum(t, re, im, im, im + m);
  radix4Inverse<true>(t, im, im + m, frame, 1.0f / static_cast<float>(t.size));
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

constexpr SpectrumKernels kKernels{transform,    forwardReal, inverseReal, forwardFrame,
                                   inverseFrame, estimate,    applyGains};

}  // namespace

const SpectrumKernels& spectrumKernels() noexcept {
  return kKernels;
}

}  // namespace VORLUND_LANE_SET
}  // namespace vorlund
