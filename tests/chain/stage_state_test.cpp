// Guards on the stages as the chain holds them: a reset leaves every stage as a freshly prepared
// one, and every equaliser band acts on its own frequency.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "chain/voice_chain.h"
#include "record_helpers.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 480;

// Every stage on and busy: a gate that holds, a limiter that limits, every band and tone
// filter shaping.
void everyStageBusy(ParameterBlock& r, int effectMode) {
  r.highPassOrder = 4;
  r.humFilterEnabled = r.gateEnabled = r.agcEnabled = 1;
  r.gateHoldMs = 300.0f;
  r.inputGainDb = 12.0f;
  r.limiterCeilingDb = -12.0f;
  for (int i = 0; i < ParameterBlock::kBandCount; ++i) {
    r.eqBands[i].enabled = 1;
    r.eqBands[i].gainDb = i % 2 == 0 ? 5.0f : -4.0f;
  }
  r.toneLow = 0.4f;
  r.tonePresence = -0.3f;
  r.toneAir = 0.5f;
  r.effectMode = effectMode;
}

// Verifies, for each voice effect mode with every other stage busy, that a chain restarted in
// the middle of speech (a non-finite sample makes it reset every stage, the voice effect too)
// then gives exactly what a freshly prepared chain gives on the same input: no stage keeps an
// envelope, counter, delay line or filter state through its reset().
TEST(StageStateTest, ResetLeavesEveryStageAsPrepared) {
  const std::vector<float> speech = test::variedSignal(kRate, 2.5, 17);
  const std::size_t half = speech.size() / 2 / kBlock * kBlock;
  for (int mode = 0; mode <= static_cast<int>(kLastVoiceEffectMode); ++mode) {
    SCOPED_TRACE(mode);
    ParameterBlock busy = test::defaultRecord();
    everyStageBusy(busy, mode);
    VoiceChain used;
    used.configure(busy);
    used.prepare(kRate);
    std::vector<float> x = speech;
    std::size_t at = 0;
    for (; at < half; at += kBlock) used.process(x.data() + at, kBlock);
    x[at] = std::nanf("");
    for (; used.recoveryCount() == 0 && at + kBlock <= x.size(); at += kBlock)
      used.process(x.data() + at, kBlock);
    ASSERT_EQ(1u, used.recoveryCount());

    VoiceChain fresh;
    fresh.configure(busy);
    fresh.prepare(kRate);
    std::vector<float> y = speech;
    for (std::size_t k = at; k + kBlock <= x.size(); k += kBlock) {
      used.process(x.data() + k, kBlock);
      fresh.process(y.data() + k, kBlock);
      ASSERT_EQ(0, std::memcmp(x.data() + k, y.data() + k, sizeof(float) * kBlock))
          << "block at " << k;
    }
  }
}

// RMS gain in dB of the chain at `frequency`, over the settled second half of a one-second sine.
double chainGainDb(const ParameterBlock& record, double frequency) {
  VoiceChain chain;
  chain.configure(record);
  chain.prepare(kRate);
  const std::vector<float> in = test::sine(frequency, kRate, static_cast<int>(kRate), 0.1);
  std::vector<float> out = in;
  for (std::size_t at = 0; at + kBlock <= out.size(); at += kBlock)
    chain.process(out.data() + at, kBlock);
  return test::toDb(test::rms(out, static_cast<int>(out.size()) / 2) /
                    test::rms(in, static_cast<int>(in.size()) / 2));
}

// Verifies each of the ten equaliser bands alone, at its factory frequency and type (shelves at
// the ends) raised by 9 dB: it lifts its own frequency by at least the 4.5 dB a shelf gives at
// its corner, against the chain with every band off.
TEST(StageStateTest, EachEqualiserBandLiftsItsFrequency) {
  ParameterBlock flat = test::defaultRecord();
  flat.highPassEnabled = flat.nsEnabled = flat.plosiveEnabled = flat.deEsserEnabled = 0;
  flat.agcEnabled = flat.compEnabled = flat.limiterEnabled = flat.gateEnabled = 0;
  flat.eqEnabled = 1;
  for (EqBand& band : flat.eqBands) band.enabled = 0;
  for (int i = 0; i < ParameterBlock::kBandCount; ++i) {
    SCOPED_TRACE(i);
    ParameterBlock lifted = flat;
    lifted.eqBands[i].enabled = 1;
    lifted.eqBands[i].gainDb = 9.0f;
    const double frequency = lifted.eqBands[i].freqHz;
    EXPECT_GT(chainGainDb(lifted, frequency) - chainGainDb(flat, frequency), 4.0) << frequency;
  }
}

}  // namespace
}  // namespace vorlund
