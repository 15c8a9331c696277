// Layer: signal
// Floats handled together, written with the compiler's vector extensions so that one piece of
// source serves a vector of lanes and a single float alike (templates over float and Lanes).
// Every operation is the element-wise IEEE operation of the scalar code and nothing is fused or
// reassociated, so each lane's result is bit-identical to the scalar result.
//
// Lanes are four floats (SSE2, which every x86-64 processor carries), except in the units built
// a second time for AVX2 (VORLUND_WIDE_LANES, see chain/vector_path.h), where they are eight.
// Everything here lives in a namespace named after the lane set, so the two builds of a unit
// never share an inline function: the linker cannot hand an AVX2 copy to SSE2 code.
#pragma once

#if defined(VORLUND_WIDE_LANES)
#include <immintrin.h>
#define VORLUND_LANE_SET avx2
#else
#include <xmmintrin.h>
#define VORLUND_LANE_SET sse2
#endif

namespace vorlund {
inline namespace VORLUND_LANE_SET {

#if defined(VORLUND_WIDE_LANES)
constexpr int kLaneCount = 8;
#else
constexpr int kLaneCount = 4;
#endif
using Lanes = float __attribute__((vector_size(sizeof(float) * kLaneCount)));
// Four lanes in either build, for passes whose structure is four wide.
using Quad = float __attribute__((vector_size(16)));

// Unaligned loads and stores, as the instructions that do them (a copy through memcpy lets the
// compiler load a value twice rather than keep it).
template <typename T>
inline T load(const float* p) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return *p;
  } else if constexpr (sizeof(T) == 16) {
    return _mm_loadu_ps(p);
  } else {
#if defined(VORLUND_WIDE_LANES)
    return _mm256_loadu_ps(p);
#endif
  }
}

template <typename T>
inline void store(float* p, T v) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    *p = v;
  } else if constexpr (sizeof(T) == 16) {
    _mm_storeu_ps(p, v);
  } else {
#if defined(VORLUND_WIDE_LANES)
    _mm256_storeu_ps(p, v);
#endif
  }
}

template <typename T>
inline T broadcast(float f) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return f;
  } else if constexpr (sizeof(T) == 16) {
    return T{f, f, f, f};
  } else {
    return T{f, f, f, f, f, f, f, f};
  }
}

// std::min and std::max exactly: the first argument unless the second is strictly smaller
// (larger), which also settles signed zeros and NaN the same way in every lane.
// (minps and maxps return their second operand unless the first is strictly smaller or
// larger, so with the operands swapped they are exactly these.)
template <typename T>
inline T minOf(T a, T b) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return b < a ? b : a;
  } else if constexpr (sizeof(T) == 16) {
    return _mm_min_ps(b, a);
  } else {
#if defined(VORLUND_WIDE_LANES)
    return _mm256_min_ps(b, a);
#endif
  }
}
template <typename T>
inline T maxOf(T a, T b) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return a < b ? b : a;
  } else if constexpr (sizeof(T) == 16) {
    return _mm_max_ps(b, a);
  } else {
#if defined(VORLUND_WIDE_LANES)
    return _mm256_max_ps(b, a);
#endif
  }
}

// The lanes in the opposite order (a single float is its own reverse).
template <typename T>
inline T reversed(T v) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return v;
  } else if constexpr (sizeof(T) == 16) {
    return __builtin_shufflevector(v, v, 3, 2, 1, 0);
  } else {
    return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
  }
}

}  // namespace VORLUND_LANE_SET
}  // namespace vorlund
