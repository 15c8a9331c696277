// Layer: signal
// Runs a cascade of sections whose number is known only at run time (the high-pass with the
// hum notches, the equaliser's active bands with the tone filters) as if it were fixed: the
// sections are copied into a local array of exactly that many, which the compiler unrolls and
// keeps in registers for a whole block, and their state is written back afterwards. Each
// section computes exactly what BiquadSection::process computes, in the same order.
#pragma once

#include <array>
#include <cassert>
#include <type_traits>
#include <utility>

#include "chain/biquad.h"
#include "chain/lanes.h"
#include "chain/skewed_pipeline.h"

namespace vorlund {
// In the lane set's namespace (chain/lanes.h): the AVX2 build of the lane kernels has its own.
inline namespace VORLUND_LANE_SET {

template <int N>
class LocalCascade {
  static_assert(std::is_trivially_copyable_v<BiquadSection>, "copied in and out per block");

 public:
  explicit LocalCascade(BiquadSection* const* from) noexcept : from_(from) {
    for (int i = 0; i < N; ++i) sections_[i] = *from[i];
  }
  ~LocalCascade() {
    for (int i = 0; i < N; ++i) *from_[i] = sections_[i];
  }
  LocalCascade(const LocalCascade&) = delete;
  LocalCascade& operator=(const LocalCascade&) = delete;

  float process(float x) noexcept {
    for (BiquadSection& s : sections_) x = s.process(x);
    return x;
  }

  // The whole block in place, the sections skewed by one sample each: they run side by side,
  // and each sees its samples in order, as in process(). From kVectorSections sections on,
  // four sections (eight in the AVX2 build) share one vector, section k in lane k: each step moves
  // every section's previous output one lane up as the next section's input, which a vector does in
  // one shuffle, while a section's arithmetic stays the element-wise IEEE arithmetic of process().
  void processBlock(float* samples, int count) noexcept {
    if constexpr (N >= kVectorSections) {
      processBlockInLanes(samples, count);
    } else {
      [&]<std::size_t... I>(std::index_sequence<I...>) {
        if constexpr (N == 0) {
          (void)samples;
          (void)count;
        } else {
          runSkewed(samples, count, [this](float x) { return sections_[I].process(x); }...);
        }
      }
      (std::make_index_sequence<N>{});
    }
  }

 private:
  // Below this, two or three sections already fill the processor's arithmetic units side by
  // side without the shuffles.
  static constexpr int kVectorSections = 4;
  static constexpr int kGroups = (N + kLaneCount - 1) / kLaneCount;

  // Step `at` of the skew one section at a time, for the steps at the edges of the block where
  // some sections have no sample: section k takes sample at - k from section k - 1's output
  // of the step before (carry), last section first so that output is still the old one.
  void edgeStep(std::array<float, N>& carry, float* samples, int at, int count) noexcept {
    for (int k = N - 1; k >= 0; --k) {
      const int sample = at - k;
      if (sample < 0 || sample >= count) continue;
      carry[k] = sections_[k].process(k == 0 ? samples[at] : carry[k - 1]);
      if (k == N - 1) samples[sample] = carry[k];
    }
  }

  void processBlockInLanes(float* samples, int count) noexcept {
    std::array<float, N> carry{};
    const int lastStep = count + N - 1;
    int at = 0;
    for (; at < N - 1 && at < lastStep; ++at) edgeStep(carry, samples, at, count);
    if (at < count) {
      // Lane k of group g holds section g kLaneCount + k; lanes past the last section hold zero
      // coefficients, and what they compute is never read.
      auto gather = [&](float BiquadSection::*field, int g) {
        Lanes v{};
        for (int lane = 0; lane < kLaneCount && g * kLaneCount + lane < N; ++lane)
          v[lane] = sections_[g * kLaneCount + lane].*field;
        return v;
      };
      Lanes vb0[kGroups], vb1[kGroups], vb2[kGroups], va1[kGroups], va2[kGroups];
      Lanes vz1[kGroups], vz2[kGroups], vy[kGroups];
      for (int g = 0; g < kGroups; ++g) {
        vb0[g] = gather(&BiquadSection::b0, g);
        vb1[g] = gather(&BiquadSection::b1, g);
        vb2[g] = gather(&BiquadSection::b2, g);
        va1[g] = gather(&BiquadSection::a1, g);
        va2[g] = gather(&BiquadSection::a2, g);
        vz1[g] = gather(&BiquadSection::z1, g);
        vz2[g] = gather(&BiquadSection::z2, g);
        vy[g] = Lanes{};
        for (int lane = 0; lane < kLaneCount && g * kLaneCount + lane < N; ++lane)
          vy[g][lane] = carry[g * kLaneCount + lane];
      }
      constexpr int kLastGroup = (N - 1) / kLaneCount;
      constexpr int kLastLane = (N - 1) % kLaneCount;
      for (; at < count; ++at) {
        Lanes in[kGroups];
        if constexpr (kLaneCount == 8) {
          in[0] = __builtin_shufflevector(vy[0], Lanes{samples[at]}, 8, 0, 1, 2, 3, 4, 5, 6);
          for (int g = 1; g < kGroups; ++g)
            in[g] = __builtin_shufflevector(vy[g - 1], vy[g], 7, 8, 9, 10, 11, 12, 13, 14);
        } else {
          in[0] = __builtin_shufflevector(vy[0], Lanes{samples[at]}, 4, 0, 1, 2);
          for (int g = 1; g < kGroups; ++g)
            in[g] = __builtin_shufflevector(vy[g - 1], vy[g], 3, 4, 5, 6);
        }
        for (int g = 0; g < kGroups; ++g) {
          const Lanes out = vb0[g] * in[g] + vz1[g];
          vz1[g] = vb1[g] * in[g] - va1[g] * out + vz2[g];
          vz2[g] = vb2[g] * in[g] - va2[g] * out;
          vy[g] = out;
        }
        samples[at - (N - 1)] = vy[kLastGroup][kLastLane];
      }
      for (int k = 0; k < N; ++k) {
        sections_[k].z1 = vz1[k / kLaneCount][k % kLaneCount];
        sections_[k].z2 = vz2[k / kLaneCount][k % kLaneCount];
        carry[k] = vy[k / kLaneCount][k % kLaneCount];
      }
    }
    for (; at < lastStep; ++at) edgeStep(carry, samples, at, count);
  }

  BiquadSection* const* from_;
  std::array<BiquadSection, N> sections_{};
};

// Calls body(cascade) with a LocalCascade of the `count` sections listed in `sections`
// (0 <= count <= kMax).
template <int kMax, int N = 0, typename Body>
void withLocalCascade(BiquadSection* const* sections, int count, Body&& body) noexcept {
  if constexpr (N == 0) assert(count >= 0 && count <= kMax);
  if constexpr (N < kMax) {
    if (count != N) {
      withLocalCascade<kMax, N + 1>(sections, count, body);
      return;
    }
  }
  LocalCascade<N> cascade(sections);
  body(cascade);
}

}  // namespace VORLUND_LANE_SET
}  // namespace vorlund
