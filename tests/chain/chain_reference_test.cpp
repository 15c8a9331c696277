// The restructured chain against its straightforward form (tests/reference): same samples,
// same meters, bit for bit, over long varied input with the record changing under it.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <vector>

#include "chain/voice_chain.h"
#include "record_helpers.h"
#include "reference/reference_chain.h"
#include "reference/reference_stages.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

bool sameBits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Records that between them switch every stage on and off and reach the edges of its settings.
std::vector<std::function<void(ParameterBlock&)>> recordChanges() {
  auto everything = [](ParameterBlock& r) {
    r.highPassOrder = 4;
    r.humFilterEnabled = r.gateEnabled = r.agcEnabled = 1;
    for (int i = 0; i < ParameterBlock::kBandCount; ++i) {
      r.eqBands[i].enabled = 1;
      r.eqBands[i].type = i % 8;
      r.eqBands[i].gainDb = i % 2 == 0 ? 4.0f : -3.0f;
    }
    r.toneLow = 0.5f;
    r.tonePresence = -0.4f;
    r.toneAir = 0.3f;
  };
  return {
      [](ParameterBlock&) {},
      [&](ParameterBlock& r) {
        everything(r);
        r.effectMode = 4;
      },
      [](ParameterBlock& r) {
        r.highPassEnabled = r.plosiveEnabled = r.deEsserEnabled = r.compEnabled = 0;
        r.eqEnabled = r.limiterEnabled = r.gateAuto = 0;
      },
      [&](ParameterBlock& r) {
        everything(r);
        r.effectMode = 6;
        r.compKneeDb = 0.0f;
        r.compRatio = 20.0f;
        r.compThresholdDb = -40.0f;
        r.deEsserAmount = 1.0f;
        r.inputGainDb = 18.0f;
      },
      [](ParameterBlock& r) {
        r.mute = 1;
        r.effectMode = 5;
      },
      [](ParameterBlock& r) { r.bypass = 1; },
      [&](ParameterBlock& r) {
        everything(r);
        r.effectMode = 1;
        r.gateAuto = 0;
        r.gateThresholdDb = -30.0f;
        r.compRatio = 1.0f;
        r.compMakeupDb = 6.0f;
        r.deEsserAmount = 0.0f;
        r.deEsserHz = 3000.0f;
        r.limiterCeilingDb = -12.0f;
      },
      [](ParameterBlock& r) {
        r.effectMode = 2;
        r.nsEnabled = 0;
        r.agcEnabled = 1;
        r.agcMaxGainDb = 30.0f;
        r.agcSpeed = 1.0f;
        r.outputGainDb = 6.0f;
      },
      [](ParameterBlock& r) {
        r.effectMode = 3;
        r.compThresholdDb = 0.0f;
        r.compKneeDb = 24.0f;
        r.humFilterEnabled = 1;
        r.humHarmonics = 8;
        r.humBaseHz = 60.0f;
      },
  };
}

// Runs both chains over `seconds` of varied input at `rate` in blocks of changing length,
// applying the next record change every `blocksPerScene` blocks, with resets and relearn
// requests in between, and compares every sample and every meter.
void expectSameAsReference(double rate, double seconds, std::uint32_t seed) {
  SCOPED_TRACE(rate);
  VoiceChain chain;
  reference::ReferenceChain<> straightforward;
  chain.prepare(rate);
  straightforward.prepare(rate);
  ASSERT_EQ(straightforward.latencySamples(), chain.latencySamples());

  const std::vector<float> input = test::variedSignal(rate, seconds, seed);
  std::vector<float> fast = input;
  std::vector<float> plain = input;
  const auto changes = recordChanges();
  const int blockLengths[] = {480, 7, 1000, 1, 333, static_cast<int>(rate / 100.0), 64};
  const int blocksPerScene = 40;
  int block = 0;
  std::size_t at = 0;
  while (at < input.size()) {
    if (block % blocksPerScene == 0) {
      ParameterBlock record = test::defaultRecord();
      changes[(block / blocksPerScene) % changes.size()](record);
      sanitise(record);
      chain.configure(record);
      straightforward.configure(record);
    }
    if (block % 97 == 50) {
      chain.reset();
      straightforward.reset();
    }
    if (block % 131 == 70) {
      chain.relearnNoise();
      straightforward.relearnNoise();
    }
    const int count = static_cast<int>(
        std::min<std::size_t>(blockLengths[block % std::size(blockLengths)], input.size() - at));
    chain.process(fast.data() + at, count);
    straightforward.process(plain.data() + at, count);
    const ChainMeters& a = chain.meters();
    const ChainMeters& b = straightforward.meters;
    const float pairs[][2] = {{a.inputPeak, b.inputPeak},
                              {a.inputMeanSquare, b.inputMeanSquare},
                              {a.outputPeak, b.outputPeak},
                              {a.outputMeanSquare, b.outputMeanSquare},
                              {a.gateGain, b.gateGain},
                              {a.compressorReductionDb, b.compressorReductionDb},
                              {a.limiterMinGain, b.limiterMinGain},
                              {a.agcGainDb, b.agcGainDb},
                              {a.deEsserMinGain, b.deEsserMinGain},
                              {a.plosiveMinGain, b.plosiveMinGain},
                              {a.suppressorAttenuationDb, b.suppressorAttenuationDb},
                              {a.inputBackgroundDb, b.inputBackgroundDb}};
    for (std::size_t m = 0; m < std::size(pairs); ++m)
      ASSERT_TRUE(sameBits(pairs[m][0], pairs[m][1]))
          << "meter " << m << " in block " << block << ": " << pairs[m][0] << " vs " << pairs[m][1];
    ASSERT_EQ(b.voiceActive, a.voiceActive) << "block " << block;
    for (int i = 0; i < count; ++i)
      ASSERT_TRUE(sameBits(fast[at + i], plain[at + i]))
          << "sample " << at + i << " in block " << block << ": " << fast[at + i] << " vs "
          << plain[at + i];
    at += count;
    ++block;
  }
}

// Verifies that the restructured chain (fused per-sample passes, stages in locals, skipped
// logarithms, exponentials and unity multiplications) computes exactly what the
// straightforward chain computes: every output sample and every meter bit for bit, at the
// lowest and highest rates and those in between, through every record change, reset and
// relearn request of the scenario.
TEST(ChainReferenceTest, MatchesStraightforwardChainBitForBit) {
  expectSameAsReference(48000.0, 12.0, 1u);
  expectSameAsReference(8000.0, 12.0, 2u);
  expectSameAsReference(44100.0, 3.0, 3u);
  expectSameAsReference(96000.0, 2.0, 4u);
  expectSameAsReference(384000.0, 1.0, 5u);
}

}  // namespace
}  // namespace vorlund
