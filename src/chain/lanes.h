// Four floats handled together, written with the compiler's vector extensions so that one
// piece of source serves four lanes and a single float alike (templates over float and
// Lanes). Every operation is the element-wise IEEE operation of the scalar code and nothing is
// fused or reassociated, so each lane's result is bit-identical to the scalar result. SSE2
// carries it on every x86-64 processor.
#pragma once

#include <xmmintrin.h>

#include <cstring>

namespace vorlund {

using Lanes = float __attribute__((vector_size(16)));
// The instruction set the vector code of the chain runs on, for benchmark reports: the x86-64
// baseline, so no run-time dispatch is needed and none is built.
constexpr const char* kVectorCodePath = "SSE2";
constexpr int kLaneCount = 4;

template <typename T>
inline T load(const float* p) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return *p;
  } else {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
}

template <typename T>
inline void store(float* p, T v) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    *p = v;
  } else {
    std::memcpy(p, &v, sizeof v);
  }
}

template <typename T>
inline T broadcast(float f) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return f;
  } else {
    return T{f, f, f, f};
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
  } else {
    return _mm_min_ps(b, a);
  }
}
template <typename T>
inline T maxOf(T a, T b) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return a < b ? b : a;
  } else {
    return _mm_max_ps(b, a);
  }
}

// The lanes in the opposite order (a single float is its own reverse).
template <typename T>
inline T reversed(T v) noexcept {
  if constexpr (sizeof(T) == sizeof(float)) {
    return v;
  } else {
    return __builtin_shufflevector(v, v, 3, 2, 1, 0);
  }
}

}  // namespace vorlund
