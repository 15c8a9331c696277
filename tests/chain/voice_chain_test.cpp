#include "chain/voice_chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "chain/dc_blocker.h"
#include "chain/gain.h"
#include "signal_helpers.h"
#include "suppressor/noise_suppressor.h"

namespace vorlund {
namespace {

using test::whiteNoise;

// The chain's record with `edit` applied, put in force.
template <typename Edit>
void editRecord(VoiceChain& chain, Edit edit) {
  ParameterBlock record = chain.record();
  edit(record);
  chain.configure(record);
}

// A chain whose level-changing stages are off, so a test sees only the stages it is about.
void quietDynamics(ParameterBlock& p) {
  p.highPassEnabled = 0;
  p.nsEnabled = 0;
  p.gateEnabled = 0;
  p.agcEnabled = 0;
  p.compEnabled = 0;
  p.limiterEnabled = 0;
}

// Verifies bypass: the output equals the input bit for bit and the output meters mirror the
// input meters.
TEST(VoiceChainTest, BypassIsBitExact) {
  VoiceChain chain;
  editRecord(chain, [](ParameterBlock& p) {
    p.bypass = 1;
    p.inputGainDb = 12.0f;
  });
  chain.prepare(48000.0);
  const std::vector<float> in = test::whiteNoise(480, 3);
  std::vector<float> block = in;
  chain.process(block.data(), static_cast<int>(block.size()));
  EXPECT_EQ(0, std::memcmp(in.data(), block.data(), in.size() * sizeof(float)));
  EXPECT_EQ(chain.meters().inputPeak, chain.meters().outputPeak);
  EXPECT_EQ(chain.meters().inputMeanSquare, chain.meters().outputMeanSquare);
  EXPECT_GT(chain.meters().inputPeak, 0.4f);
}

// Verifies that a block of zero samples changes nothing, the meters included.
TEST(VoiceChainTest, EmptyBlockChangesNothing) {
  VoiceChain chain;
  chain.prepare(48000.0);
  std::vector<float> block = test::whiteNoise(480, 9);
  chain.process(block.data(), 480);
  const ChainMeters before = chain.meters();
  chain.process(block.data(), 0);
  EXPECT_EQ(0, std::memcmp(&before, &chain.meters(), sizeof before));
}

// Verifies the conditioning path: with the switchable filters off, a mid-band sine passes with
// input gain times output gain, and the raw measures read the untouched block.
TEST(VoiceChainTest, GainsApplyAndMeasuresReadRawBlock) {
  VoiceChain chain;
  editRecord(chain, [](ParameterBlock& p) {
    // A tone present from the start would be learnt as noise.
    p.highPassEnabled = p.nsEnabled = p.compEnabled = p.limiterEnabled = 0;
    p.inputGainDb = 6.0f;
    p.outputGainDb = -3.0f;
  });
  chain.prepare(48000.0);
  std::vector<float> in = test::sine(1000.0, 48000.0, 48000, 0.25);
  std::vector<float> out = in;
  test::processInBlocks(chain, out);
  EXPECT_NEAR(0.25f, chain.meters().inputPeak, 1e-3f);
  EXPECT_NEAR(0.25 * 0.25 / 2.0, chain.meters().inputMeanSquare, 1e-4);
  const double gain = test::toDb(test::rms(out, 24000) / test::rms(in, 24000));
  EXPECT_NEAR(3.0, gain, 0.02);
  EXPECT_NEAR(chain.meters().outputPeak, 0.25 * dbToGain(3.0f), 2e-3);
}

// Verifies that a new record applied mid-signal redesigns without a reset: the output of a
// running tone keeps its slope, with no step where the settings changed.
TEST(VoiceChainTest, UpdateDoesNotClick) {
  VoiceChain chain;
  chain.prepare(48000.0);
  std::vector<float> block = test::sine(440.0, 48000.0, 9600, 0.5);
  for (int i = 0; i < 9600; i += 480) {
    if (i == 4800) {
      editRecord(chain, [](ParameterBlock& p) {
        p.humFilterEnabled = 1;
        p.highPassHz = 120.0f;
        p.highPassOrder = 4;
      });
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
// the output bit-identical to a flat equaliser; on, the band's boost appears at its frequency.
TEST(VoiceChainTest, EqEnabledSwitchesBandsAndTone) {
  VoiceChain shaped, flat;
  for (VoiceChain* chain : {&shaped, &flat}) {
    editRecord(*chain, [](ParameterBlock& p) {
      quietDynamics(p);
      p.eqEnabled = 0;
    });
  }
  editRecord(shaped, [](ParameterBlock& p) {
    p.eqBands[3] = {1, 0, 1000.0f, 9.0f, 1.0f};
    p.tonePresence = 1.0f;
  });
  shaped.prepare(48000.0);
  flat.prepare(48000.0);
  const std::vector<float> tone = test::sine(1000.0, 48000.0, 48000, 0.05);
  std::vector<float> a = tone, b = tone;
  test::processInBlocks(shaped, a);
  test::processInBlocks(flat, b);
  EXPECT_EQ(a, b);

  editRecord(shaped, [](ParameterBlock& p) { p.eqEnabled = 1; });
  a = tone;
  b = tone;
  test::processInBlocks(shaped, a);
  test::processInBlocks(flat, b);
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
  editRecord(chain, quietDynamics);
  chain.prepare(48000.0);
  const auto blockMinima = [&](const std::vector<float>& x) {
    std::vector<float> block = x;
    float plosive = 1.0f, deEsser = 1.0f;
    for (std::size_t i = 0; i < block.size(); i += 480) {
      chain.process(block.data() + i, 480);
      plosive = std::min(plosive, chain.meters().plosiveMinGain);
      deEsser = std::min(deEsser, chain.meters().deEsserMinGain);
    }
    return std::pair{plosive, deEsser};
  };
  const std::vector<float> voice = test::sine(1000.0, 48000.0, 24000, 0.02);
  EXPECT_EQ(std::pair(1.0f, 1.0f), blockMinima(voice));

  std::vector<float> burst = test::sine(40.0, 48000.0, 9600, 0.8);
  for (std::size_t i = 0; i < burst.size(); ++i) burst[i] += voice[i];
  EXPECT_LT(blockMinima(burst).first, 0.5f);
  blockMinima(voice);
  EXPECT_GT(chain.meters().plosiveMinGain, 0.99f);

  EXPECT_LT(blockMinima(test::sine(7000.0, 48000.0, 9600, 0.3)).second, 0.6f);
  blockMinima(voice);
  EXPECT_GT(chain.meters().deEsserMinGain, 0.99f);
}

// Verifies that the chain's reset leaves the voice effect alone: an echo stored before the
// reset still arrives 0.12 s + 1 sample after its impulse.
TEST(VoiceChainTest, ResetKeepsTheVoiceEffect) {
  VoiceChain chain;
  editRecord(chain, [](ParameterBlock& p) {
    quietDynamics(p);
    p.effectMode = 5;
    p.effectMix = 1.0f;
    p.effectParam = 0.0f;
  });
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
    EXPECT_NEAR(-18.0f, chain.meters().suppressorAttenuationDb, 0.5f);
    if (relearn) chain.relearnNoise();
    runBlocks(chain, in, 2 * second, 3 * second);
    if (!relearn) {
      EXPECT_GT(chain.meters().suppressorAttenuationDb, -6.0f);
      continue;
    }
    EXPECT_NEAR(-18.0f, chain.meters().suppressorAttenuationDb, 0.5f);

    editRecord(chain, [](ParameterBlock& p) { p.nsEnabled = 0; });
    runBlocks(chain, in, 0, kBlock);
    EXPECT_EQ(0.0f, chain.meters().suppressorAttenuationDb);
    editRecord(chain, [](ParameterBlock& p) { p.nsEnabled = 1; });
    runBlocks(chain, in, 2 * second, 2 * second + second / 2);
    EXPECT_NEAR(-18.0f, chain.meters().suppressorAttenuationDb, 0.5f);
    editRecord(chain, [](ParameterBlock& p) { p.bypass = 1; });
    runBlocks(chain, in, 0, kBlock);
    EXPECT_EQ(0.0f, chain.meters().suppressorAttenuationDb);
  }
}

// Verifies the chain with every switchable stage off: the output is the input times input and
// output gain through the 10 Hz DC blocker, delayed by the chain's latency and unclamped.
TEST(VoiceChainTest, AllStagesOffIsDelayedDcBlockedInput) {
  for (double rate : {8000.0, 44100.0, 48000.0}) {
    SCOPED_TRACE(rate);
    VoiceChain chain;
    editRecord(chain, [](ParameterBlock& p) {
      p.highPassEnabled = p.humFilterEnabled = p.nsEnabled = p.plosiveEnabled = p.gateEnabled = 0;
      p.eqEnabled = p.deEsserEnabled = p.agcEnabled = p.compEnabled = p.effectMode = 0;
      p.limiterEnabled = 0;
      p.inputGainDb = 9.0f;
      p.outputGainDb = 4.0f;
    });
    chain.prepare(rate);
    const std::vector<float> in = test::whiteNoise(20000, 21, 0.9f);
    std::vector<float> out = in;
    // Block lengths that are not multiples of the suppressor's hop.
    constexpr int kBlockLengths[] = {37, 480, 129, 1001, 1, 333};
    for (int at = 0, b = 0; at < 20000; ++b) {
      const int length = std::min(kBlockLengths[b % 6], 20000 - at);
      chain.process(out.data() + at, length);
      at += length;
    }
    DcBlocker dc;
    dc.prepare(rate);
    const int latency = chain.latencySamples();
    ASSERT_GT(latency, 0);
    for (int n = 0; n < 20000; ++n) {
      const float x = n < latency ? 0.0f : dc.process(in[n - latency] * dbToGain(9.0f));
      // The suppressor's overlap-add reconstructs to within a few float steps.
      const float expected = x * dbToGain(4.0f);
      ASSERT_NEAR(expected, out[n], 1e-6f * std::max(1.0f, std::fabs(expected))) << n;
    }
    EXPECT_GT(*std::max_element(out.begin(), out.end()), 1.0f);
  }
}

// Verifies the mute ramp after the limiter, as the ratio of a muted chain's output to an
// unmuted twin's: the output reaches exactly 0 after 10 ms and is whole again 10 ms after
// unmuting; toggled within 5 ms the ramp turns back half-way without a jump; after a reset
// with mute set the output is silent from the first sample.
TEST(VoiceChainTest, MuteRamp) {
  for (double rate : {44100.0, 48000.0}) {
    SCOPED_TRACE(rate);
    const int fade = static_cast<int>(rate * 0.01), half = fade / 2;
    VoiceChain muted, twin;
    muted.prepare(rate);
    twin.prepare(rate);
    // `gain(t)`: the mute gain t x 10 ms into the block; exact from sample `exactFrom` on.
    auto check = [&](int count, bool mute, int exactFrom, auto gain) {
      std::vector<float> out = test::sine(1000.0, rate, count, 0.3), ref = out;
      editRecord(muted, [&](ParameterBlock& p) { p.mute = mute ? 1 : 0; });
      muted.process(out.data(), count);
      twin.process(ref.data(), count);
      for (int i = 0; i < count; ++i) {
        const float g = gain(static_cast<float>(i + 1) / static_cast<float>(fade));
        if (i >= exactFrom) {
          ASSERT_EQ(g * ref[i], out[i]) << i;
        } else if (std::fabs(ref[i]) > 0.05f) {
          ASSERT_NEAR(g, out[i] / ref[i], 2e-4f) << i;
        }
      }
    };
    const float halfWay = 1.0f - static_cast<float>(half) / static_cast<float>(fade);
    check(fade, false, 0, [](float) { return 1.0f; });
    check(2 * fade, true, fade - 1, [](float t) { return std::max(0.0f, 1.0f - t); });
    check(2 * fade, false, fade - 1, [](float t) { return std::min(1.0f, t); });
    check(half, true, half, [](float t) { return 1.0f - t; });
    check(fade, false, half, [&](float t) { return std::min(1.0f, halfWay + t); });

    editRecord(muted, [](ParameterBlock& p) { p.mute = 1; });
    muted.reset();
    std::vector<float> first = test::sine(1000.0, rate, fade, 0.3, 0.2);
    muted.process(first.data(), fade);
    EXPECT_EQ(std::vector<float>(fade, 0.0f), first);
  }
}

// Half-second tone bursts over a -80 dBFS noise floor, for the trackers, gate and AGC.
std::vector<float> speechLike(double rate, int count) {
  std::vector<float> x = test::whiteNoise(count, 17, 0.0001f);
  const std::vector<float> tone = test::sine(220.0, rate, count, 0.4);
  for (int i = 0; i < count; ++i)
    if ((i / static_cast<int>(rate * 0.5)) % 2 == 1) x[i] += tone[i];
  return x;
}

// Verifies that a record changing only compThresholdDb resets nothing: re-applying a record
// leaves the output bit for bit as it was; after the threshold change the gate, automatic gain
// and trackers report exactly what they report without it, and only the compressor and what
// follows change. With gateAuto set, a new gateThresholdDb has no effect at all.
TEST(VoiceChainTest, ThresholdOnlyChangeTouchesNoOtherStage) {
  const int block = 480, changeAt = 150, blocks = 400;
  VoiceChain plain, reapplied, compChanged, gateChanged;
  for (VoiceChain* chain : {&plain, &reapplied, &compChanged, &gateChanged}) {
    editRecord(*chain, [](ParameterBlock& p) { p.gateEnabled = p.agcEnabled = 1; });
    chain->prepare(48000.0);
  }
  const std::vector<float> in = speechLike(48000.0, block * blocks);
  int voiced = 0, gated = 0;
  for (int k = 0; k < blocks; ++k) {
    SCOPED_TRACE(k);
    if (k == changeAt) {
      reapplied.configure(reapplied.record());
      editRecord(compChanged, [](ParameterBlock& p) { p.compThresholdDb = -35.0f; });
      editRecord(gateChanged, [](ParameterBlock& p) { p.gateThresholdDb = -20.0f; });
    }
    std::vector<float> p(in.begin() + k * block, in.begin() + (k + 1) * block), r = p, c = p, g = p;
    plain.process(p.data(), block);
    reapplied.process(r.data(), block);
    compChanged.process(c.data(), block);
    gateChanged.process(g.data(), block);
    ASSERT_EQ(p, r);
    ASSERT_EQ(p, g);
    ASSERT_EQ(k < changeAt, p == c);
    const ChainMeters &m = plain.meters(), &mc = compChanged.meters();
    ASSERT_EQ(m.gateGain, mc.gateGain);
    ASSERT_EQ(m.agcGainDb, mc.agcGainDb);
    ASSERT_EQ(m.voiceActive, mc.voiceActive);
    ASSERT_EQ(m.inputBackgroundDb, mc.inputBackgroundDb);
    voiced += m.voiceActive ? 1 : 0;
    gated += m.gateGain < 0.5f ? 1 : 0;
  }
  // The signal did exercise the gate and the voice-driven automatic gain.
  EXPECT_GT(voiced, 50);
  EXPECT_GT(gated, 20);
  EXPECT_NE(0.0f, plain.meters().agcGainDb);
}

// Verifies the meters and the reach of the voice flag: the gate reads closed in a long pause;
// a full-scale onset shows the limiter's block minimum and the compressor's reduction; a
// bypassed block reports unity gains, keeps the voice flag and still follows the input
// background; quiet blocks later report their own limiter minimum; after a reset a steady tone
// stops counting as voice once the background has caught up, and the automatic gain then holds.
TEST(VoiceChainTest, MetersAndVoiceFlag) {
  const double rate = 48000.0;
  VoiceChain chain;
  editRecord(chain, [](ParameterBlock& p) { p.gateEnabled = p.agcEnabled = 1; });
  chain.prepare(rate);
  std::vector<float> signal = speechLike(rate, static_cast<int>(rate * 2.0));
  const std::vector<float> pause = test::whiteNoise(static_cast<int>(rate * 1.5), 5, 1e-4f);
  signal.insert(signal.end(), pause.begin(), pause.end());
  test::processInBlocks(chain, signal);
  EXPECT_NEAR(dbToGain(-chain.record().gateRangeDb), chain.meters().gateGain, 0.01f);
  EXPECT_FALSE(chain.meters().voiceActive);

  // Three blocks, so the onset has passed the suppressor's frame delay.
  std::vector<float> loud = test::sine(300.0, rate, 1440, 1.0);
  test::processInBlocks(chain, loud);
  EXPECT_LT(chain.meters().limiterMinGain, 0.9f);
  EXPECT_LT(chain.meters().compressorReductionDb, -3.0f);
  EXPECT_LE(chain.meters().outputPeak, dbToGain(-1.0f));
  EXPECT_TRUE(chain.meters().voiceActive);

  const float background = chain.meters().inputBackgroundDb;
  editRecord(chain, [](ParameterBlock& p) { p.bypass = 1; });
  std::vector<float> silence(24000, 0.0f);
  test::processInBlocks(chain, silence);
  EXPECT_EQ(1.0f, chain.meters().gateGain);
  EXPECT_EQ(0.0f, chain.meters().compressorReductionDb);
  EXPECT_EQ(1.0f, chain.meters().limiterMinGain);
  EXPECT_EQ(0.0f, chain.meters().agcGainDb);
  EXPECT_TRUE(chain.meters().voiceActive);
  EXPECT_LT(chain.meters().inputBackgroundDb, background - 10.0f);

  editRecord(chain, [](ParameterBlock& p) { p.bypass = 0; });
  std::vector<float> quiet = test::sine(1000.0, rate, 24000, 0.01);
  test::processInBlocks(chain, quiet);
  EXPECT_GT(chain.meters().limiterMinGain, 0.999f);

  chain.reset();
  std::vector<float> tone = test::sine(1000.0, rate, static_cast<int>(rate * 2.0), 0.01);
  test::processInBlocks(chain, tone);
  EXPECT_FALSE(chain.meters().voiceActive);
  const float agcGainDb = chain.meters().agcGainDb;
  EXPECT_GT(agcGainDb, 3.0f);
  tone = test::sine(1000.0, rate, static_cast<int>(rate * 2.0), 0.01);
  test::processInBlocks(chain, tone);
  EXPECT_EQ(agcGainDb, chain.meters().agcGainDb);
}

// Verifies that the output and its meters stay finite and within the output limit when the
// gains would take the signal past what a float holds (limiter off, every gain at its top).
TEST(VoiceChainTest, OutputMeanSquareSaturates) {
  const double rate = 48000.0;
  VoiceChain chain;
  editRecord(chain, [](ParameterBlock& p) {
    quietDynamics(p);
    p.inputGainDb = 30.0f;
    p.outputGainDb = 20.0f;
    p.toneLow = p.tonePresence = p.toneAir = 1.0f;
    p.compEnabled = 1;
    p.compThresholdDb = 0.0f;
    p.compRatio = 1.0f;
    p.compMakeupDb = 24.0f;
    p.compAutoMakeup = 0;
    for (EqBand& band : p.eqBands) band = {1, 0, 1000.0f, 24.0f, 1.0f};
  });
  chain.prepare(rate);
  std::vector<float> loud = test::sine(1000.0, rate, 9600, 1000.0);
  test::processInBlocks(chain, loud);
  EXPECT_TRUE(std::all_of(loud.begin(), loud.end(), [](float y) {
    return std::isfinite(y) && std::fabs(y) <= VoiceChain::kOutputLimit;
  }));
  EXPECT_LE(chain.meters().outputPeak, VoiceChain::kOutputLimit);
  EXPECT_TRUE(std::isfinite(chain.meters().outputMeanSquare));
}

}  // namespace
}  // namespace vorlund
