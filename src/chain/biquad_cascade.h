// Layer: signal
// Runs a cascade of sections whose number is known only at run time (the high-pass with the
// hum notches, the equaliser's active bands with the tone filters) as if it were fixed: the
// sections are copied into a local array of exactly that many, which the compiler unrolls and
// keeps in registers for a whole block, and their state is written back afterwards. Each
// section computes exactly what BiquadSection::process computes, in the same order.
#pragma once

#include <emmintrin.h>

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
  // four sections (eight in the AVX2 build) share one vector, dealt out over the vectors in turn:
  // section g + k kGroups in lane k of vector g. Each step a vector takes the previous vector's
  // outputs of the step before as they stand, and only the first vector shifts the last one's
  // outputs one lane up, while a section's arithmetic stays the element-wise IEEE arithmetic of
  // process().
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

  // {x, v[0], v[1], ...}: a byte shift and a movss in SSE2, where the compiler's own lowering
  // of the shuffle takes five instructions (and merges two shufps back into it).
  static Lanes shiftedIn(Lanes v, float x) noexcept {
#if defined(VORLUND_WIDE_LANES)
    return __builtin_shufflevector(v, Lanes{x}, 8, 0, 1, 2, 3, 4, 5, 6);
#else
    const Lanes up = _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(v), 4));
    return _mm_move_ss(up, _mm_set_ss(x));
#endif
  }

  // Where section k lies in the groups' lanes laid end to end.
  static constexpr int slotOf(int k) noexcept {
    return k % kGroups * kLaneCount + k / kGroups;
  }

  void processBlockInLanes(float* samples, int count) noexcept {
    std::array<float, N> carry{};
    const int lastStep = count + N - 1;
    int at = 0;
    for (; at < N - 1 && at < lastStep; ++at) edgeStep(carry, samples, at, count);
    if (at < count) {
      // Section s in lane s / kGroups of group s % kGroups; lanes past the last section hold
      // zero coefficients, and what they compute is never read. Filled and emptied through
      // arrays of floats, whole vectors at a time.
      enum Field { B0, B1, B2, A1, A2, Z1, Z2, Y, kFields };
      float fields[kFields][kGroups * kLaneCount]{};
      for (int k = 0; k < N; ++k) {
        const int slot = slotOf(k);
        const BiquadSection& s = sections_[k];
        fields[B0][slot] = s.b0;
        fields[B1][slot] = s.b1;
        fields[B2][slot] = s.b2;
        fields[A1][slot] = s.a1;
        fields[A2][slot] = s.a2;
        fields[Z1][slot] = s.z1;
        fields[Z2][slot] = s.z2;
        fields[Y][slot] = carry[k];
      }
      Lanes vb0[kGroups], vb1[kGroups], vb2[kGroups], va1[kGroups], va2[kGroups];
      Lanes vz1[kGroups], vz2[kGroups], vy[kGroups];
      for (int g = 0; g < kGroups; ++g) {
        const int first = g * kLaneCount;
        vb0[g] = load<Lanes>(fields[B0] + first);
        vb1[g] = load<Lanes>(fields[B1] + first);
        vb2[g] = load<Lanes>(fields[B2] + first);
        va1[g] = load<Lanes>(fields[A1] + first);
        va2[g] = load<Lanes>(fields[A2] + first);
        vz1[g] = load<Lanes>(fields[Z1] + first);
        vz2[g] = load<Lanes>(fields[Z2] + first);
        vy[g] = load<Lanes>(fields[Y] + first);
      }
      constexpr int kLastGroup = (N - 1) % kGroups;
      constexpr int kLastLane = (N - 1) / kGroups;
      for (; at < count; ++at) {
        // Section g + k kGroups (g >= 1) takes section g - 1 + k kGroups, the same lane of
        // the group before; section k kGroups takes section k kGroups - 1, one lane down in
        // the last group, and the first section the new sample.
        Lanes in[kGroups];
        in[0] = shiftedIn(vy[kGroups - 1], samples[at]);
        for (int g = 1; g < kGroups; ++g) in[g] = vy[g - 1];
        for (int g = 0; g < kGroups; ++g) {
          const Lanes out = vb0[g] * in[g] + vz1[g];
          vz1[g] = vb1[g] * in[g] - va1[g] * out + vz2[g];
          vz2[g] = vb2[g] * in[g] - va2[g] * out;
          vy[g] = out;
          // In a register: left to itself, GCC keeps a lone group's outputs on the stack, and
          // the next step's shift waits for the store to reach the load.
          if constexpr (kGroups == 1 && kLaneCount == 4) asm("" : "+x"(vy[g]));
        }
        samples[at - (N - 1)] = vy[kLastGroup][kLastLane];
      }
      for (int g = 0; g < kGroups; ++g) {
        const int first = g * kLaneCount;
        store(fields[Z1] + first, vz1[g]);
        store(fields[Z2] + first, vz2[g]);
        store(fields[Y] + first, vy[g]);
      }
      for (int k = 0; k < N; ++k) {
        sections_[k].z1 = fields[Z1][slotOf(k)];
        sections_[k].z2 = fields[Z2][slotOf(k)];
        carry[k] = fields[Y][slotOf(k)];
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
