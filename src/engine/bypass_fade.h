// Layer: engine
// Bypass around the voice chain for hosts that run it themselves (the LV2 plugin): the input
// delayed by the chain's latency, so the latency a host compensates stays the same while
// bypassed, and a linear crossfade of about 10 ms between the chain's output and that delayed
// input, so switching never clicks. The chain keeps running, so switching back finds it
// settled. Fully bypassed, the output is the delayed input bit for bit; fully processing, the
// chain's output bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "chain/voice_chain.h"

namespace vorlund {

class BypassFade {
 public:
  static constexpr double kFadeSeconds = 0.01;
  // The most samples pushDry() and mix() take at once.
  static constexpr std::uint32_t kMaxPiece = 4096;

  // Configuration thread; allocates the delay line (latency plus a piece). Ends reset.
  void prepare(double sampleRate, int latencySamples);
  // Real-time thread: clears the delay line; the next mix() starts at its target, unfaded.
  void reset() noexcept;

  // Real-time thread, never allocates: notes `count` (at most kMaxPiece) input samples before
  // the chain processes them in place...
  void pushDry(const float* dry, std::uint32_t count) noexcept;
  // ...then moves the chain's output of those samples toward the delayed input while
  // `bypassed`, back toward the chain's output otherwise.
  void mix(float* wet, std::uint32_t count, bool bypassed) noexcept;

 private:
  std::vector<float> ring_;
  std::size_t pieceStart_ = 0;
  std::size_t latency_ = 0;
  float dryShare_ = 0.0f;  // 0: the chain's output, 1: the delayed input
  float step_ = 1.0f;
  bool started_ = false;
};

// Real-time thread, never allocates: runs `chain` over `samples` in place with `fade` around
// it, in pieces the fade takes. The record's bypass drives the fade; the chain itself runs
// as if not bypassed.
void processWithFade(VoiceChain& chain, BypassFade& fade, float* samples,
                     std::uint32_t count) noexcept;

}  // namespace vorlund
