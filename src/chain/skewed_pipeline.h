// Layer: signal
// Runs a chain of per-sample stages over a block in place as a pipeline skewed by one sample
// per stage: in every step stage j takes what stage j - 1 produced in the step before, so the
// stages of one step do not wait on each other and the processor runs them side by side,
// where a plain loop makes every sample wait for the whole chain of the previous one. Each
// stage still sees its input samples in order, one at a time, so it computes exactly what it
// computes in the plain loop.
#pragma once

#include <array>
#include <tuple>
#include <utility>

namespace vorlund {

namespace skewed_detail {

// One step: stage J down to stage 0, each on the sample `at - J`. At the edges of the block
// (`edge`) a stage whose sample lies outside it does nothing.
template <int J, typename Stages, std::size_t N>
inline void step(Stages& stages, std::array<float, N>& carry, float* samples, int at, int count,
                 bool edge) noexcept {
  if constexpr (J >= 0) {
    const int sample = at - J;
    if (!edge || (sample >= 0 && sample < count)) {
      float in;
      if constexpr (J == 0) {
        in = samples[at];
      } else {
        in = carry[J - 1];
      }
      carry[J] = std::get<J>(stages)(in);
      if constexpr (J + 1 == static_cast<int>(N)) samples[sample] = carry[J];
    }
    step<J - 1>(stages, carry, samples, at, count, edge);
  }
}

}  // namespace skewed_detail

// `stages` are callables float -> float, applied in the order given.
template <typename... Stages>
inline void runSkewed(float* samples, int count, Stages&&... stages) noexcept {
  constexpr int kStages = sizeof...(Stages);
  static_assert(kStages >= 1);
  auto chain = std::forward_as_tuple(stages...);
  // carry[j]: what stage j produced in the previous step.
  std::array<float, kStages> carry{};
  const int lastStep = count + kStages - 1;
  int at = 0;
  for (; at < kStages - 1 && at < lastStep; ++at)
    skewed_detail::step<kStages - 1>(chain, carry, samples, at, count, true);
  for (; at < count; ++at)
    skewed_detail::step<kStages - 1>(chain, carry, samples, at, count, false);
  for (; at < lastStep; ++at)
    skewed_detail::step<kStages - 1>(chain, carry, samples, at, count, true);
}

}  // namespace vorlund
