// Runs a cascade of sections whose number is known only at run time (the high-pass with the
// hum notches, the equaliser's active bands with the tone filters) as if it were fixed: the
// sections are copied into a local array of exactly that many, which the compiler unrolls and
// keeps in registers for a whole block, and their state is written back afterwards. Each
// section computes exactly what BiquadSection::process computes, in the same order.
#pragma once

#include <array>
#include <utility>

#include "chain/biquad.h"
#include "chain/skewed_pipeline.h"

namespace vorlund {

template <int N>
class LocalCascade {
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

  // The whole block in place, the sections skewed by one sample each (runSkewed): they run
  // side by side, and each sees its samples in order, as in process().
  void processBlock(float* samples, int count) noexcept {
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

 private:
  BiquadSection* const* from_;
  std::array<BiquadSection, N> sections_{};
};

// Calls body(cascade) with a LocalCascade of the `count` sections listed in `sections`
// (0 <= count <= kMax).
template <int kMax, int N = 0, typename Body>
void withLocalCascade(BiquadSection* const* sections, int count, Body&& body) noexcept {
  if constexpr (N < kMax) {
    if (count != N) {
      withLocalCascade<kMax, N + 1>(sections, count, body);
      return;
    }
  }
  LocalCascade<N> cascade(sections);
  body(cascade);
}

}  // namespace vorlund
