// Layer: record
#include "engine/shared_block.h"

#include <cstring>

namespace vorlund {

bool readSnapshot(SharedBlock& block, ParameterBlock& destination,
                  std::uint32_t& counter) noexcept {
  // Acquire pairs with the writer's final exchange, so a stable counter brings its record.
  const std::uint32_t c = sharedWord(block.changeCounter).load(std::memory_order_acquire);
  if ((c & 1u) != 0) return false;
  auto* out = reinterpret_cast<unsigned char*>(&destination);
  for (std::size_t i = 0; i < SharedBlock::kRecordWords; ++i) {
    const std::uint32_t word = sharedWord(block.parameterArea[i]).load(std::memory_order_relaxed);
    std::memcpy(out + i * sizeof word, &word, sizeof word);
  }
  // Orders the copy before the second counter read: a word from a newer record implies that
  // this read sees the writer's odd counter (or a later one).
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (sharedWord(block.changeCounter).load(std::memory_order_relaxed) != c) return false;
  counter = c;
  return true;
}

std::uint32_t loadChangeCounter(SharedBlock& block) noexcept {
  return sharedWord(block.changeCounter).load(std::memory_order_relaxed);
}

std::uint32_t loadRelearnCounter(SharedBlock& block) noexcept {
  return sharedWord(block.relearnCounter).load(std::memory_order_relaxed);
}

void publishStreamStart(SharedBlock& block, float sampleRate, std::uint32_t channels,
                        std::int32_t latencySamples) noexcept {
  sharedWord(block.activeStreams).fetch_add(1);
  sharedWord(block.streamSampleRate).exchange(static_cast<std::int32_t>(sampleRate));
  sharedWord(block.streamChannels).exchange(channels);
  sharedWord(block.latencySamples).exchange(latencySamples);
}

void publishStreamEnd(SharedBlock& block) noexcept {
  // Someone else (the control application) may have cleared the count meanwhile.
  if (sharedWord(block.activeStreams).fetch_sub(1) - 1 < 0)
    sharedWord(block.activeStreams).exchange(0);
}

}  // namespace vorlund
