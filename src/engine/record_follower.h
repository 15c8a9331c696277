// Layer: engine
// Following the shared block as a stream of the effect does: a relearn request (a change of
// its relearn counter) restarts the chain's noise learning, a new record (a change of its
// change counter) is sanitised into the chain; a record being written is tried again at the
// next block. The block frame, the LV2 plugin and vorlund-mic (through the frame) share it.
#pragma once

#include <cstdint>

#include "chain/voice_chain.h"
#include "engine/parameter_block.h"
#include "engine/shared_block.h"

namespace vorlund {

class RecordFollower {
 public:
  // lastAppliedCounter() while no record from the shared block has been applied.
  static constexpr std::uint32_t kNoRecordApplied = 0xFFFFFFFFu;

  // Configuration thread, or the real-time thread between blocks: starts following `block`
  // (null: none): its record is applied at the next block, and a relearn request made before
  // now is absorbed.
  void start(SharedBlock* block) noexcept {
    lastAppliedCounter_ = kNoRecordApplied;
    lastRelearnCounter_ = block != nullptr ? loadRelearnCounter(*block) : 0;
  }

  // Real-time thread; never allocates, waits or fails. True when a new record went into the
  // chain (updated when prepared).
  bool follow(SharedBlock& block, VoiceChain& chain) noexcept {
    const std::uint32_t relearn = loadRelearnCounter(block);
    if (relearn != lastRelearnCounter_) {
      lastRelearnCounter_ = relearn;
      chain.relearnNoise();
    }
    return loadChangeCounter(block) != lastAppliedCounter_ && apply(block, chain);
  }

  // Real-time thread, or a configuration thread while no block is processed: takes a
  // consistent snapshot of the block's record into the chain; false (nothing changed) while
  // it is being written.
  bool apply(SharedBlock& block, VoiceChain& chain) noexcept {
    std::uint32_t counter = 0;
    if (!readSnapshot(block, staging_, counter)) return false;
    sanitise(staging_);
    chain.configure(staging_);
    lastAppliedCounter_ = counter;
    return true;
  }

  std::uint32_t lastAppliedCounter() const noexcept { return lastAppliedCounter_; }
  std::uint32_t lastRelearnCounter() const noexcept { return lastRelearnCounter_; }

 private:
  std::uint32_t lastAppliedCounter_ = kNoRecordApplied;
  std::uint32_t lastRelearnCounter_ = 0;
  ParameterBlock staging_{};
};

}  // namespace vorlund
