// Layer: engine
#include "engine/bypass_fade.h"

#include <algorithm>
#include <cmath>

namespace vorlund {

void BypassFade::prepare(double sampleRate, int latencySamples) {
  latency_ = static_cast<std::size_t>(std::max(latencySamples, 0));
  ring_.assign(latency_ + kMaxPiece, 0.0f);
  step_ = static_cast<float>(1.0 / std::max(1.0, std::round(kFadeSeconds * sampleRate)));
  reset();
}

void BypassFade::reset() noexcept {
  std::fill(ring_.begin(), ring_.end(), 0.0f);
  pieceStart_ = 0;
  started_ = false;
}

void BypassFade::pushDry(const float* dry, std::uint32_t count) noexcept {
  if (ring_.empty()) return;
  count = std::min(count, kMaxPiece);
  const std::size_t size = ring_.size();
  std::size_t at = pieceStart_;
  for (std::uint32_t k = 0; k < count; ++k) {
    ring_[at] = dry[k];
    at = at + 1 == size ? 0 : at + 1;
  }
}

void BypassFade::mix(float* wet, std::uint32_t count, bool bypassed) noexcept {
  if (ring_.empty()) return;
  count = std::min(count, kMaxPiece);
  const std::size_t size = ring_.size();
  const float goal = bypassed ? 1.0f : 0.0f;
  // The input `latency_` samples before each output sample.
  std::size_t from = (pieceStart_ + size - latency_) % size;
  // The first block after a reset starts where it is asked to be: there is nothing to fade from.
  float share = started_ ? dryShare_ : goal;
  started_ = true;
  for (std::uint32_t k = 0; k < count; ++k) {
    if (share != goal)
      share = bypassed ? std::min(share + step_, 1.0f) : std::max(share - step_, 0.0f);
    const float delayed = ring_[from];
    if (share == 1.0f) {
      wet[k] = delayed;
    } else if (share != 0.0f) {
      wet[k] += share * (delayed - wet[k]);
    }
    from = from + 1 == size ? 0 : from + 1;
  }
  dryShare_ = share;
  pieceStart_ = (pieceStart_ + count) % size;
}

void processWithFade(VoiceChain& chain, BypassFade& fade, float* samples,
                     std::uint32_t count) noexcept {
  const bool bypass = chain.record().bypass != 0;
  for (std::uint32_t done = 0; done < count; done += BypassFade::kMaxPiece) {
    const std::uint32_t piece = std::min(BypassFade::kMaxPiece, count - done);
    fade.pushDry(samples + done, piece);
    chain.processActive(samples + done, static_cast<int>(piece));
    fade.mix(samples + done, piece, bypass);
  }
}

}  // namespace vorlund
