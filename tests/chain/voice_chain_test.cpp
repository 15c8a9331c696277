#include "chain/voice_chain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "chain/gain.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

std::vector<float> noiseBlock(int count, std::uint32_t seed) {
  std::vector<float> out(count);
  for (float& x : out) {
    seed = seed * 1664525u + 1013904223u;
    x = static_cast<float>(static_cast<std::int32_t>(seed)) / 2147483648.0f * 0.5f;
  }
  return out;
}

// Verifies bypass: the output equals the input bit for bit and the output meters mirror the
// input meters.
TEST(VoiceChainTest, BypassIsBitExact) {
  VoiceChain chain;
  chain.params.bypass = 1;
  chain.params.inputGainDb = 12.0f;
  chain.prepare(48000.0);
  const std::vector<float> in = noiseBlock(480, 3);
  std::vector<float> block = in;
  chain.process(block.data(), static_cast<int>(block.size()));
  EXPECT_EQ(0, std::memcmp(in.data(), block.data(), in.size() * sizeof(float)));
  EXPECT_EQ(chain.meters.inputPeak, chain.meters.outputPeak);
  EXPECT_EQ(chain.meters.inputMeanSquare, chain.meters.outputMeanSquare);
  EXPECT_GT(chain.meters.inputPeak, 0.4f);
}

// Verifies that a block of zero samples changes nothing, the meters included.
TEST(VoiceChainTest, EmptyBlockChangesNothing) {
  VoiceChain chain;
  chain.prepare(48000.0);
  std::vector<float> block = noiseBlock(480, 9);
  chain.process(block.data(), 480);
  const ChainMeters before = chain.meters;
  chain.process(block.data(), 0);
  EXPECT_EQ(0, std::memcmp(&before, &chain.meters, sizeof before));
}

// Verifies the conditioning path: with the switchable filters off, a mid-band sine passes with
// input gain times output gain, and the raw measures read the untouched block.
TEST(VoiceChainTest, GainsApplyAndMeasuresReadRawBlock) {
  VoiceChain chain;
  chain.params.highPassEnabled = 0;
  chain.params.inputGainDb = 6.0f;
  chain.params.outputGainDb = -3.0f;
  chain.prepare(48000.0);
  std::vector<float> in = test::sine(1000.0, 48000.0, 48000, 0.25);
  std::vector<float> out = in;
  for (int i = 0; i < 48000; i += 480) chain.process(out.data() + i, 480);
  EXPECT_NEAR(0.25f, chain.meters.inputPeak, 1e-3f);
  EXPECT_NEAR(0.25 * 0.25 / 2.0, chain.meters.inputMeanSquare, 1e-4);
  const double gain = test::toDb(test::rms(out, 24000) / test::rms(in, 24000));
  EXPECT_NEAR(3.0, gain, 0.02);
  EXPECT_NEAR(chain.meters.outputPeak, 0.25 * dbToGain(3.0f), 2e-3);
}

// Verifies that a new record applied mid-signal redesigns without a reset: the output of a
// running tone keeps its slope, with no step where the settings changed.
TEST(VoiceChainTest, UpdateDoesNotClick) {
  VoiceChain chain;
  chain.prepare(48000.0);
  std::vector<float> block = test::sine(440.0, 48000.0, 9600, 0.5);
  for (int i = 0; i < 9600; i += 480) {
    if (i == 4800) {
      chain.params.humFilterEnabled = 1;
      chain.params.highPassHz = 120.0f;
      chain.params.highPassOrder = 4;
      chain.update();
    }
    chain.process(block.data() + i, 480);
  }
  // The steepest step of an undisturbed 0.5-amplitude 440 Hz sine is 0.0288 per sample.
  float steepest = 0.0f;
  for (int i = 4000; i < 9600; ++i)
    steepest = std::max(steepest, std::fabs(block[i] - block[i - 1]));
  EXPECT_LT(steepest, 0.0288f * 1.1f);
}

}  // namespace
}  // namespace vorlund
