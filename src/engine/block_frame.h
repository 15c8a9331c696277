// The body of APOProcess: folds the engine's interleaved input to mono, picks up a pending
// reset, a relearn request and a new parameter record, runs the voice chain in place, writes
// the result to every output channel, keeps the statistics that UnlockForProcess reports and
// publishes the meters into the shared block. The COM object embeds one BlockFrame; the
// lifecycle code sets its fields while the real-time thread is not running.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "chain/buffers.h"
#include "chain/voice_chain.h"
#include "channel/parameter_channel.h"
#include "engine/parameter_block.h"
#include "engine/shared_block.h"
#include "platform/com/apo_types.h"

namespace vorlund {

// The switches GetEffectsList reports, one bit each, so a configuration thread can read them
// in one atomic load while the real-time thread replaces the record.
enum EffectSwitch : std::uint32_t {
  kBypassSwitch = 1u << 0,
  kSuppressorSwitch = 1u << 1,
  kAgcSwitch = 1u << 2,
  kEqualizerSwitch = 1u << 3,
  kCompressorSwitch = 1u << 4,
  kLimiterSwitch = 1u << 5,
};
std::uint32_t effectSwitches(const ParameterBlock& params) noexcept;

class BlockFrame {
 public:
  BlockFrame() noexcept { switches.store(effectSwitches(chain.params), std::memory_order_relaxed); }

  // Largest magnitude a folded mono sample may have (+60 dBFS); NaN and infinities become 0.
  static constexpr float kSampleLimit = 1000.0f;
  // Extra room past maxFrameCount in the mono buffer.
  static constexpr std::uint64_t kBufferSlack = 16;
  // Weight of each new block in the smoothed processing load.
  static constexpr float kLoadSmoothing = 0.05f;
  // lastAppliedCounter while no record from the shared block has been applied.
  static constexpr std::uint32_t kNoRecordApplied = 0xFFFFFFFFu;

  // Any thread. One bad sample (NaN, infinity, or a huge value from a broken driver) would
  // otherwise poison every filter state for good. Finite samples within the limit pass bit
  // for bit.
  static float limitSample(float x) noexcept {
    if (std::fabs(x) <= kSampleLimit) return x;
    if (!std::isfinite(x)) return 0.0f;
    return x > 0.0f ? kSampleLimit : -kSampleLimit;
  }

  // Configuration thread, unlocked; may allocate. Sizes the mono buffer for blocks of up to
  // `maxFrames` frames (computed in 64 bits) and notes the output's own limit.
  void sizeBuffers(std::uint32_t maxFrames, std::uint32_t maxOutputFrames);
  // Configuration thread: starting values of the per-stream statistics (load, pending reset,
  // block count, peaks). The record and relearn counters are set by whoever locks.
  void resetStatistics() noexcept;
  // Real-time thread, or LockForProcess: takes a consistent snapshot of the block's record,
  // sanitises it into the chain, updates a prepared chain and notes the counter. False (and
  // nothing changed) when the record is being written.
  bool applyRecord(SharedBlock& block) noexcept;

  // Real-time thread, locked; never allocates, waits or fails. Bad arguments return at once
  // with the output untouched.
  void process(std::uint32_t numInputConnections, APO_CONNECTION_PROPERTY** inputConnections,
               std::uint32_t numOutputConnections,
               APO_CONNECTION_PROPERTY** outputConnections) noexcept;

  // Bytes held per instance: the frame with its chain, the mono buffer and the chain's buffers.
  std::size_t memoryBytes() const noexcept {
    return sizeof(BlockFrame) + reservedBytes(monoBuffer) + chain.memoryUse().total() -
           sizeof(VoiceChain);
  }

  // Any thread: asks the next block to reset the chain.
  void requestReset() noexcept { resetRequested.exchange(1); }

  bool locked = false;
  std::uint32_t inputChannelCount = 1;
  float sampleRate = 48000.0f;
  std::uint32_t maxFrameCount = 0;
  std::uint32_t maxOutputFrameCount = 0;
  std::atomic<std::int32_t> resetRequested{0};
  // effectSwitches() of the record in force; stored whenever the record is replaced.
  std::atomic<std::uint32_t> switches{0};
  std::uint32_t lastAppliedCounter = kNoRecordApplied;
  std::uint32_t lastRelearnCounter = 0;
  std::int64_t blockCount = 0;
  float peakInput = 0.0f;
  float peakOutput = 0.0f;
  float processingLoad = 0.0f;
  std::int64_t counterFrequency = 0;
  ParameterBlock stagingRecord{};
  std::vector<float> monoBuffer;
  VoiceChain chain;
  ParameterChannel channel;

 private:
  void foldToMono(const APO_CONNECTION_PROPERTY& input, std::uint32_t count,
                  std::uint32_t channels) noexcept;
  void pickUpSharedBlock(SharedBlock& block) noexcept;
  void writeOut(APO_CONNECTION_PROPERTY& output, std::uint32_t count,
                std::uint32_t channels) const noexcept;
};

}  // namespace vorlund
