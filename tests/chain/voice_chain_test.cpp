#include "chain/voice_chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "chain/dc_blocker.h"
#include "chain/gain.h"
#include "signal_helpers.h"
#include "suppressor/noise_suppressor.h"

namespace vorlund {
namespace {

using test::whiteNoise;

// A chain whose level-changing stages are off, so a test sees only the stages it is about.
void quietDynamics(ParameterBlock& p) {
  p.highPassEnabled = 0;
  p.nsEnabled = 0;
  p.gateEnabled = 0;
  p.agcEnabled = 0;
  p.compEnabled = 0;
  p.limiterEnabled = 0;
}

void processInBlocks(VoiceChain& chain, std::vector<float>& x) {
  for (std::size_t i = 0; i < x.size(); i += 480) chain.process(x.data() + i, 480);
}

// Verifies bypass: the output equals the input bit for bit and the output meters mirror the
// input meters.
TEST(VoiceChainTest, BypassIsBitExact) {
  VoiceChain chain;
  chain.params.bypass = 1;
  chain.params.inputGainDb = 12.0f;
  chain.prepare(48000.0);
  const std::vector<float> in = test::whiteNoise(480, 3);
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
  std::vector<float> block = test::whiteNoise(480, 9);
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
  // A tone present from the start would be learnt as noise.
  chain.params.nsEnabled = 0;
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

// Verifies that eqEnabled switches bands and tone together: off, a strong band and tone leave
// the output bit-identical to a flat equaliser; on, read by process without an update, the
// band's boost appears at its frequency.
TEST(VoiceChainTest, EqEnabledSwitchesBandsAndTone) {
  VoiceChain shaped, flat;
  for (VoiceChain* chain : {&shaped, &flat}) {
    quietDynamics(chain->params);
    chain->params.eqEnabled = 0;
  }
  shaped.params.eqBands[3] = {1, 0, 1000.0f, 9.0f, 1.0f};
  shaped.params.tonePresence = 1.0f;
  shaped.prepare(48000.0);
  flat.prepare(48000.0);
  const std::vector<float> tone = test::sine(1000.0, 48000.0, 48000, 0.05);
  std::vector<float> a = tone, b = tone;
  processInBlocks(shaped, a);
  processInBlocks(flat, b);
  EXPECT_EQ(a, b);

  shaped.params.eqEnabled = 1;
  a = tone;
  b = tone;
  processInBlocks(shaped, a);
  processInBlocks(flat, b);
  BiquadSection presence;
  designBiquad(presence, FilterType::Peaking, 48000.0, 3200.0, 5.0, 0.8);
  EXPECT_NEAR(9.0 + test::sectionResponseDb(presence, 1000.0, 48000.0),
              test::toDb(test::rms(a, 24000) / test::rms(b, 24000)), 0.05);
}

// Verifies the plosive and de-esser meters: each block reports its own smallest gain, deep
// during a 40 Hz burst or a 7 kHz sibilant, back at 1 once a plain voice tone follows, and
// exactly 1 for a voice tone that never triggers.
TEST(VoiceChainTest, PlosiveAndDeEsserMetersReportEachBlock) {
  VoiceChain chain;
  quietDynamics(chain.params);
  chain.prepare(48000.0);
  const auto blockMinima = [&](const std::vector<float>& x) {
    std::vector<float> block = x;
    float plosive = 1.0f, deEsser = 1.0f;
    for (std::size_t i = 0; i < block.size(); i += 480) {
      chain.process(block.data() + i, 480);
      plosive = std::min(plosive, chain.meters.plosiveMinGain);
      deEsser = std::min(deEsser, chain.meters.deEsserMinGain);
    }
    return std::pair{plosive, deEsser};
  };
  const std::vector<float> voice = test::sine(1000.0, 48000.0, 24000, 0.02);
  EXPECT_EQ(std::pair(1.0f, 1.0f), blockMinima(voice));

  std::vector<float> burst = test::sine(40.0, 48000.0, 9600, 0.8);
  for (std::size_t i = 0; i < burst.size(); ++i) burst[i] += voice[i];
  EXPECT_LT(blockMinima(burst).first, 0.5f);
  blockMinima(voice);
  EXPECT_GT(chain.meters.plosiveMinGain, 0.99f);

  EXPECT_LT(blockMinima(test::sine(7000.0, 48000.0, 9600, 0.3)).second, 0.6f);
  blockMinima(voice);
  EXPECT_GT(chain.meters.deEsserMinGain, 0.99f);
}

// Verifies that the chain's reset leaves the voice effect alone: an echo stored before the
// reset still arrives 0.12 s + 1 sample after its impulse.
TEST(VoiceChainTest, ResetKeepsTheVoiceEffect) {
  VoiceChain chain;
  quietDynamics(chain.params);
  chain.params.effectMode = 5;
  chain.params.effectMix = 1.0f;
  chain.params.effectParam = 0.0f;
  chain.prepare(48000.0);
  std::vector<float> out(48000, 0.0f);
  out[100] = 0.5f;
  int first = -1;
  for (int i = 0; i < 48000; i += 480) {
    chain.process(out.data() + i, 480);
    if (first < 0) {
      const auto peak = std::max_element(out.begin(), out.begin() + i + 480);
      if (*peak > 0.25f) {
        first = static_cast<int>(peak - out.begin());
        chain.reset();
      }
    }
  }
  ASSERT_GE(first, 0);
  const auto echo = std::max_element(out.begin() + first + 1000, out.end());
  EXPECT_EQ(first + 5761, echo - out.begin());
  EXPECT_NEAR(out[first], *echo, 0.05f * out[first]);
}

// Verifies the suppressor's place in the chain: with suppression off, the signal after the DC
// blocker leaves delayed by exactly the frame length, for block lengths that are not
// multiples of the hop.
TEST(VoiceChainTest, SuppressorDelaysByItsFrameLength) {
  constexpr double kRate = 44100.0;
  constexpr int kBlockLengths[] = {37, 480, 129, 1001, 1};
  VoiceChain chain;
  quietDynamics(chain.params);
  chain.params.plosiveEnabled = 0;
  chain.params.deEsserEnabled = 0;
  chain.prepare(kRate);
  const std::vector<float> in = whiteNoise(static_cast<int>(kRate / 2), 13);
  std::vector<float> out = in;
  const int count = static_cast<int>(out.size());
  for (int at = 0, b = 0; at < count; ++b) {
    const int length = std::min(kBlockLengths[b % 5], count - at);
    chain.process(out.data() + at, length);
    at += length;
  }
  DcBlocker reference;
  reference.prepare(kRate);
  const int n = NoiseSuppressor::frameSizeForRate(kRate);
  for (int t = 0; t + n < count; ++t) ASSERT_NEAR(reference.process(in[t]), out[t + n], 2e-6f) << t;
}

// Verifies the suppressor's meter and relearn hook in the chain: the meter sits near the floor
// on stationary noise; after a relearn, noise that jumped by 20 dB is back at the floor within
// a second, which the minimum history alone would take five seconds to allow; the meter reads
// 0 as soon as suppression is switched off, returns to the floor when it is switched on again
// (the estimator kept running), and reads 0 when bypassed.
TEST(VoiceChainTest, SuppressorMeterAndRelearn) {
  constexpr double kRate = 48000.0;
  constexpr int kBlock = 480;
  auto runBlocks = [](VoiceChain& chain, std::vector<float>& x, int from, int to) {
    for (int i = from; i < to; i += kBlock) chain.process(x.data() + i, kBlock);
  };
  const int second = static_cast<int>(kRate);
  for (bool relearn : {false, true}) {
    SCOPED_TRACE(relearn);
    VoiceChain chain;
    chain.prepare(kRate);
    std::vector<float> in = whiteNoise(3 * second, 19, 0.01f);
    for (int i = 2 * second; i < 3 * second; ++i) in[i] *= 10.0f;
    runBlocks(chain, in, 0, 2 * second);
    EXPECT_NEAR(-18.0f, chain.meters.suppressorAttenuationDb, 0.5f);
    if (relearn) chain.relearnNoise();
    runBlocks(chain, in, 2 * second, 3 * second);
    if (!relearn) {
      EXPECT_GT(chain.meters.suppressorAttenuationDb, -6.0f);
      continue;
    }
    EXPECT_NEAR(-18.0f, chain.meters.suppressorAttenuationDb, 0.5f);

    chain.params.nsEnabled = 0;
    chain.update();
    runBlocks(chain, in, 0, kBlock);
    EXPECT_EQ(0.0f, chain.meters.suppressorAttenuationDb);
    chain.params.nsEnabled = 1;
    chain.update();
    runBlocks(chain, in, 2 * second, 2 * second + second / 2);
    EXPECT_NEAR(-18.0f, chain.meters.suppressorAttenuationDb, 0.5f);
    chain.params.bypass = 1;
    runBlocks(chain, in, 0, kBlock);
    EXPECT_EQ(0.0f, chain.meters.suppressorAttenuationDb);
  }
}
}  // namespace
}  // namespace vorlund
