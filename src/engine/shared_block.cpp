#include "engine/shared_block.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "platform/system.h"

namespace vorlund {
namespace {

// The thresholds below which a level counts as silence.
constexpr float kMinAmplitude = std::bit_cast<float>(0x2EDBE6FFu);  // 1e-10
constexpr float kMinPower = std::bit_cast<float>(0x1E3CE508u);      // 1e-20

template <typename T>
void storeRelaxed(T& word, T value) noexcept {
  sharedWord(word).store(value, std::memory_order_relaxed);
}

}  // namespace

float amplitudeToDb(float amplitude) noexcept {
  return amplitude > kMinAmplitude ? 20.0f * std::log10(amplitude) : kSilenceDb;
}

float powerToDb(float power) noexcept {
  return power > kMinPower ? 10.0f * std::log10(power) : kSilenceDb;
}

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

void publishMeters(SharedBlock& block, const ChainMeters& m, Bool32 bypass,
                   float processingLoad) noexcept {
  sharedWord(block.processedBlocks).fetch_add(1);
  storeRelaxed(block.lastBlockTick, tickCount64());
  storeRelaxed(block.inputPeakDb, amplitudeToDb(m.inputPeak));
  storeRelaxed(block.inputRmsDb, powerToDb(m.inputMeanSquare));
  storeRelaxed(block.outputPeakDb, amplitudeToDb(m.outputPeak));
  storeRelaxed(block.outputRmsDb, powerToDb(m.outputMeanSquare));
  storeRelaxed(block.gateGainDb, amplitudeToDb(m.gateGain));
  storeRelaxed(block.noiseSuppressionDb, m.suppressorAttenuationDb);
  storeRelaxed(block.compressorReductionDb, m.compressorReductionDb);
  storeRelaxed(block.limiterGainDb, amplitudeToDb(m.limiterMinGain));
  storeRelaxed(block.agcGainDb, m.agcGainDb);
  storeRelaxed(block.deEsserGainDb, amplitudeToDb(m.deEsserMinGain));
  storeRelaxed(block.plosiveGainDb, amplitudeToDb(m.plosiveMinGain));
  storeRelaxed(block.inputBackgroundDb, m.inputBackgroundDb);
  storeRelaxed(block.voiceActive, m.voiceActive ? 1u : 0u);
  storeRelaxed(block.bypassActive, static_cast<std::uint32_t>(bypass));
  storeRelaxed(block.processingLoad, processingLoad);
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
