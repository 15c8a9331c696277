// Layer: engine
#include "engine/meter_publisher.h"

#include "chain/gain.h"
#include "platform/system.h"

namespace vorlund {
namespace {

template <typename T>
void storeRelaxed(T& word, T value) noexcept {
  sharedWord(word).store(value, std::memory_order_relaxed);
}

}  // namespace

void publishMeters(SharedBlock& block, const ChainMeters& m, Bool32 bypass,
                   float processingLoad) noexcept {
  sharedWord(block.processedBlocks).fetch_add(1);
  storeRelaxed(block.lastBlockTick, tickCount64());
  storeRelaxed(block.inputPeakDb, amplitudeToDb(m.inputPeak));
  storeRelaxed(block.inputRmsDb, meanSquareToDb(m.inputMeanSquare));
  storeRelaxed(block.outputPeakDb, amplitudeToDb(m.outputPeak));
  storeRelaxed(block.outputRmsDb, meanSquareToDb(m.outputMeanSquare));
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

}  // namespace vorlund
