// Layer: record
// The 768-byte block through which the effect and its control application meet while audio
// runs: a header, the parameter record under a change counter, the stream status, per-block
// meters (published by engine/meter_publisher.h) and the relearn counter. It lies at the start of
// shared.bin, mapped by another process too, or in private memory when that file cannot be used.
// Another thread or process may touch any word at any time, so every access goes through
// std::atomic_ref.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/parameter_block.h"

namespace vorlund {

struct SharedBlock {
  static constexpr std::uint32_t kMagic = 0x534C5256;  // "VRLS" read as little-endian
  static constexpr std::uint32_t kVersion = 2;
  static constexpr std::uint32_t kSize = 768;
  // The parameter area as 32-bit words: the unit of the word-wise copy.
  static constexpr std::size_t kRecordWords = ParameterBlock::kSize / sizeof(std::uint32_t);

  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t size;
  std::uint32_t changeCounter;  // odd while a record is being written
  std::uint32_t parameterArea[kRecordWords];
  std::uint32_t reserved0;

  std::uint64_t processedBlocks;
  std::uint64_t lastBlockTick;
  std::int32_t activeStreams;
  std::int32_t streamSampleRate;
  std::uint32_t streamChannels;
  std::int32_t latencySamples;
  std::uint32_t voiceActive;
  std::uint32_t bypassActive;
  float inputPeakDb;
  float inputRmsDb;
  float outputPeakDb;
  float outputRmsDb;
  float gateGainDb;
  float noiseSuppressionDb;
  float compressorReductionDb;
  float limiterGainDb;
  float agcGainDb;
  float deEsserGainDb;
  float plosiveGainDb;
  float inputBackgroundDb;
  float processingLoad;
  std::uint8_t reserved1[68];

  std::uint32_t relearnCounter;  // any change asks for a new noise learning
  std::uint8_t reserved2[60];
};

// Any thread or process: the atomic view of one word of a shared block.
template <typename T>
std::atomic_ref<T> sharedWord(T& word) noexcept {
  static_assert(std::atomic_ref<T>::is_always_lock_free, "shared across processes");
  return std::atomic_ref<T>(word);
}

// Real-time thread: takes a consistent copy of the parameter area. Fails (leaving
// `destination` unusable) when the counter is odd or moved during the copy; there is no
// retry. On success `counter` is the counter value the copy belongs to.
bool readSnapshot(SharedBlock& block, ParameterBlock& destination, std::uint32_t& counter) noexcept;

// Real-time thread: the counters the frame polls every block.
std::uint32_t loadChangeCounter(SharedBlock& block) noexcept;
std::uint32_t loadRelearnCounter(SharedBlock& block) noexcept;

// Configuration thread, at LockForProcess: one more active stream and its format.
// `sampleRate` lies in the range LockForProcess accepts.
void publishStreamStart(SharedBlock& block, float sampleRate, std::uint32_t channels,
                        std::int32_t latencySamples) noexcept;
// Configuration thread, at UnlockForProcess: one stream fewer, never below 0.
void publishStreamEnd(SharedBlock& block) noexcept;

static_assert(sizeof(SharedBlock) == SharedBlock::kSize);
static_assert(offsetof(SharedBlock, version) == 4);
static_assert(offsetof(SharedBlock, size) == 8);
static_assert(offsetof(SharedBlock, changeCounter) == 12);
static_assert(offsetof(SharedBlock, parameterArea) == 16);
static_assert(offsetof(SharedBlock, reserved0) == 540);
static_assert(offsetof(SharedBlock, processedBlocks) == 544);
static_assert(offsetof(SharedBlock, lastBlockTick) == 552);
static_assert(offsetof(SharedBlock, activeStreams) == 560);
static_assert(offsetof(SharedBlock, streamSampleRate) == 564);
static_assert(offsetof(SharedBlock, streamChannels) == 568);
static_assert(offsetof(SharedBlock, latencySamples) == 572);
static_assert(offsetof(SharedBlock, voiceActive) == 576);
static_assert(offsetof(SharedBlock, bypassActive) == 580);
static_assert(offsetof(SharedBlock, inputPeakDb) == 584);
static_assert(offsetof(SharedBlock, inputRmsDb) == 588);
static_assert(offsetof(SharedBlock, outputPeakDb) == 592);
static_assert(offsetof(SharedBlock, outputRmsDb) == 596);
static_assert(offsetof(SharedBlock, gateGainDb) == 600);
static_assert(offsetof(SharedBlock, noiseSuppressionDb) == 604);
static_assert(offsetof(SharedBlock, compressorReductionDb) == 608);
static_assert(offsetof(SharedBlock, limiterGainDb) == 612);
static_assert(offsetof(SharedBlock, agcGainDb) == 616);
static_assert(offsetof(SharedBlock, deEsserGainDb) == 620);
static_assert(offsetof(SharedBlock, plosiveGainDb) == 624);
static_assert(offsetof(SharedBlock, inputBackgroundDb) == 628);
static_assert(offsetof(SharedBlock, processingLoad) == 632);
static_assert(offsetof(SharedBlock, reserved1) == 636);
static_assert(offsetof(SharedBlock, relearnCounter) == 704);
static_assert(offsetof(SharedBlock, reserved2) == 708);
static_assert(alignof(SharedBlock) == 8);

}  // namespace vorlund
