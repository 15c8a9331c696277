// Layer: engine
// The body of APOProcess: folds the engine's interleaved input to mono, picks up a pending
// reset, a relearn request and a new parameter record, runs the voice chain in place, writes
// the result to every output channel, keeps the statistics that UnlockForProcess reports and
// publishes the meters into the shared block. The COM object embeds one BlockFrame; the
// lifecycle starts and stops it while the real-time thread is not running.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "chain/buffers.h"
#include "chain/voice_chain.h"
#include "channel/parameter_channel.h"
#include "engine/bypass_fade.h"
#include "engine/parameter_block.h"
#include "engine/record_follower.h"
#include "engine/shared_block.h"
#include "platform/com/apo_types.h"

namespace vorlund {

// The stream a frame processes, fixed by LockForProcess.
struct FrameFormat {
  float sampleRate = 48000.0f;
  std::uint32_t channels = 1;
  // Largest block the frame processes, and the output connection's own limit (0 for none).
  std::uint32_t maxFrames = 0;
  std::uint32_t maxOutputFrames = 0;
};

// What UnlockForProcess reports of a processing period.
struct FrameStatistics {
  std::int64_t blockCount = 0;
  float peakInput = 0.0f;
  float peakOutput = 0.0f;
  float processingLoad = 0.0f;  // smoothed share of real time spent processing
};

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
  BlockFrame() noexcept {
    switches_.store(effectSwitches(chain_.record()), std::memory_order_relaxed);
  }

  // Largest magnitude a folded mono sample may have (+60 dBFS); NaN and infinities become 0.
  static constexpr float kSampleLimit = 1000.0f;
  // Extra room past the largest block in the mono buffer.
  static constexpr std::uint64_t kBufferSlack = 16;
  // Weight of each new block in the smoothed processing load.
  static constexpr float kLoadSmoothing = 0.05f;
  // lastAppliedCounter while no record from the shared block has been applied.
  static constexpr std::uint32_t kNoRecordApplied = RecordFollower::kNoRecordApplied;

  // Any thread. One bad sample (NaN, infinity, or a huge value from a broken driver) would
  // otherwise poison every filter state for good. Finite samples within the limit pass bit
  // for bit.
  static float limitSample(float x) noexcept {
    if (std::fabs(x) <= kSampleLimit) return x;
    if (!std::isfinite(x)) return 0.0f;
    return x > 0.0f ? kSampleLimit : -kSampleLimit;
  }

  // Any thread: `load` moved toward the share of real time that `ticks` of a counter running at
  // `frequency` took for `count` frames at `sampleRate`; unchanged when any of them is 0.
  static float smoothLoad(float load, std::int64_t ticks, std::int64_t frequency,
                          std::uint32_t count, float sampleRate) noexcept {
    if (count == 0 || sampleRate <= 0.0f || frequency <= 0) return load;
    const float elapsed = static_cast<float>(ticks) / static_cast<float>(frequency);
    const float duration = static_cast<float>(count) / sampleRate;
    const float ratio = elapsed / duration;
    return load + (ratio - load) * kLoadSmoothing;
  }

  // Configuration thread, unlocked; may allocate and throws std::bad_alloc (leaving the frame
  // unlocked). Starts a processing period: notes the format, sizes the mono buffer (in 64
  // bits), prepares the chain for the rate, applies the record of the channel's active block
  // when there is one, notes its relearn counter (so that a request made while unlocked is
  // absorbed), clears the statistics and a pending reset, and locks.
  void start(const FrameFormat& format);
  // Configuration thread: ends the processing period. The chain's state, the statistics and the
  // channel stay.
  void stop() noexcept { locked_ = false; }

  // Real-time thread, locked; never allocates, waits or fails. Bad arguments return at once
  // with the output untouched.
  void process(std::uint32_t numInputConnections, APO_CONNECTION_PROPERTY** inputConnections,
               std::uint32_t numOutputConnections,
               APO_CONNECTION_PROPERTY** outputConnections) noexcept;
  // Real-time thread, locked; never allocates, waits or fails. The same block for a host with
  // its own buffers (the PipeWire microphone): folds `count` frames of `channels` interleaved
  // samples (null: silence), runs the chain (with `fade` around it, which then does the
  // record's bypass) and writes the mono result to `mono`. Returns the frames written: no
  // more than the largest block, 0 for no channels.
  std::uint32_t processToMono(const float* in, std::uint32_t channels, std::uint32_t count,
                              float* mono, BypassFade* fade = nullptr) noexcept;

  // Bytes held per instance: the frame with its chain, the mono buffer and the chain's buffers.
  std::size_t memoryBytes() const noexcept {
    return sizeof(BlockFrame) + reservedBytes(monoBuffer_) + chain_.memoryUse().total() -
           sizeof(VoiceChain);
  }

  // Any thread: asks the next block to reset the chain.
  void requestReset() noexcept { resetRequested_.exchange(1); }
  // Any thread: whether a requested reset still waits for its block.
  bool resetPending() const noexcept { return resetRequested_.load() != 0; }

  // Configuration thread, or the real-time thread while locked.
  bool isLocked() const noexcept { return locked_; }
  const FrameFormat& format() const noexcept { return format_; }
  const FrameStatistics& statistics() const noexcept { return statistics_; }
  // Samples the mono buffer holds: the largest block plus kBufferSlack.
  std::size_t monoCapacity() const noexcept { return monoBuffer_.size(); }
  // The change counter of the record last applied from the shared block (kNoRecordApplied
  // before the first), and the relearn counter last seen.
  std::uint32_t lastAppliedCounter() const noexcept { return follower_.lastAppliedCounter(); }
  std::uint32_t lastRelearnCounter() const noexcept { return follower_.lastRelearnCounter(); }
  // Any thread: effectSwitches() of the record in force, stored whenever it is replaced.
  std::uint32_t switchesInForce() const noexcept {
    return switches_.load(std::memory_order_relaxed);
  }

  // Configuration thread, unlocked: the record the chain starts with when the channel has
  // none to apply.
  void setRecord(const ParameterBlock& record) noexcept {
    chain_.configure(record);
    switches_.store(effectSwitches(record), std::memory_order_relaxed);
  }
  // Read-only view of the chain: its record in force, meters and learning state.
  const VoiceChain& chain() const noexcept { return chain_; }
  // Any thread: the delay the chain adds at the prepared rate, in samples.
  int latencySamples() const noexcept { return chain_.latencySamples(); }
  // The parameter channel the frame follows; the frame's owner opens and closes it.
  ParameterChannel& channel() noexcept { return channel_; }
  const ParameterChannel& channel() const noexcept { return channel_; }

 private:
  // Real-time thread: a pending reset, the shared block, the fold and the chain over the mono
  // buffer; then, after the host wrote the result, the load figure and the meters.
  void runChain(const float* in, std::uint32_t count, std::uint32_t channels,
                BypassFade* fade) noexcept;
  void finishBlock(std::int64_t t0, std::uint32_t count) noexcept;
  void foldToMono(const float* in, std::uint32_t count, std::uint32_t channels) noexcept;
  void writeOut(APO_CONNECTION_PROPERTY& output, std::uint32_t count,
                std::uint32_t channels) const noexcept;

  VoiceChain chain_;
  ParameterChannel channel_;
  bool locked_ = false;
  FrameFormat format_{};
  FrameStatistics statistics_{};
  std::atomic<std::int32_t> resetRequested_{0};
  std::atomic<std::uint32_t> switches_{0};
  RecordFollower follower_;
  std::int64_t counterFrequency_ = 0;
  std::vector<float> monoBuffer_;
};

}  // namespace vorlund
