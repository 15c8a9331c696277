#include "suppressor/voice_effect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "signal_helpers.h"

namespace vorlund {
namespace {

constexpr int kBlock = 480;

std::vector<float> run(VoiceEffect& e, std::vector<float> x) {
  test::processInBlocks(e, x, kBlock);
  return x;
}

std::vector<float> impulse(int count) {
  std::vector<float> x(count, 0.0f);
  x[0] = 1.0f;
  return x;
}

// Frequency with the largest amplitude in the second half of x, on a 5 Hz grid.
double dominantFrequency(const std::vector<float>& x, double rate, double from, double to) {
  const int n = static_cast<int>(x.size());
  double best = from, bestAmplitude = -1.0;
  for (double f = from; f <= to; f += 5.0) {
    const double a = test::toneAmplitude(x, f, rate, n / 2, n);
    if (a > bestAmplitude) bestAmplitude = a, best = f;
  }
  return best;
}

// Verifies the buffer sizes: reverberator buffers scaled from their 44.1 kHz tuning, and a
// power-of-two delay line of at least 0.7 s, from 8 kHz to 384 kHz.
TEST(VoiceEffectTest, BufferSizesFollowTheRate) {
  struct Sizes {
    double rate;
    std::array<int, 4> combs;
    std::array<int, 2> allpasses;
    int delay;
  };
  for (const Sizes& s : {Sizes{16000.0, {404, 431, 463, 491}, {201, 160}, 16384},
                         Sizes{44100.0, {1116, 1188, 1277, 1356}, {556, 441}, 32768},
                         Sizes{48000.0, {1214, 1293, 1389, 1475}, {605, 480}, 65536},
                         Sizes{8000.0, {202, 215, 231, 245}, {100, 80}, 8192},
                         Sizes{384000.0, {9717, 10344, 11119, 11807}, {4841, 3840}, 524288}}) {
    SCOPED_TRACE(s.rate);
    VoiceEffect e;
    e.prepare(s.rate);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(s.combs[c], e.combLength(c)) << c;
    for (int a = 0; a < 2; ++a) EXPECT_EQ(s.allpasses[a], e.allpassLength(a)) << a;
    EXPECT_EQ(s.delay, e.delayLength());
  }
}

// Verifies the pitch shifter at param 0.5: the wet signal is the input delayed by exactly
// 0.02 x rate samples, and mix 0.5 blends it half and half with the dry signal.
TEST(VoiceEffectTest, UnshiftedPitchIsAPureDelay) {
  for (double rate : {8000.0, 44100.0, 48000.0, 384000.0}) {
    SCOPED_TRACE(rate);
    const int delay = static_cast<int>(std::lround(0.02 * rate));
    const std::vector<float> in = test::whiteNoise(3 * delay, 12);
    auto e = test::prepared<VoiceEffect>(rate, {VoiceEffectMode::Pitch, 1.0f, 0.5f});
    const std::vector<float> wet = run(e, in);
    for (int i = 0; i < delay; ++i) ASSERT_EQ(0.0f, wet[i]) << i;
    for (int i = delay; i < 3 * delay; ++i) ASSERT_EQ(in[i - delay], wet[i]) << i;

    auto blended = test::prepared<VoiceEffect>(rate, {VoiceEffectMode::Pitch, 0.5f, 0.5f});
    const std::vector<float> out = run(blended, in);
    for (int i = delay; i < 3 * delay; ++i)
      ASSERT_NEAR(0.5f * (in[i] + in[i - delay]), out[i], 1e-6f) << i;
  }
}

// Verifies that param 0 and 1 shift a 400 Hz tone one octave down and up.
TEST(VoiceEffectTest, PitchShiftMovesAToneByAnOctave) {
  constexpr double kRate = 48000.0;
  for (const auto& [param, expected] : {std::pair{0.0f, 200.0}, std::pair{1.0f, 800.0}}) {
    auto e = test::prepared<VoiceEffect>(kRate, {VoiceEffectMode::Pitch, 1.0f, param});
    const std::vector<float> out = run(e, test::sine(400.0, kRate, 48000));
    EXPECT_NEAR(expected, dominantFrequency(out, kRate, 100.0, 1600.0), 10.0) << param;
  }
}

// Verifies the echo at 8 kHz, 48 kHz and 384 kHz: an impulse returns whole after 0.12 s at
// param 0 and 0.6 s at param 1 (plus the one sample between reading and writing the line),
// with silence before, and the next repeat comes back through the 4 kHz low-pass at 0.45.
TEST(VoiceEffectTest, EchoRepeatsAfterItsDelay) {
  for (double rate : {8000.0, 48000.0, 384000.0}) {
    for (const auto& [param, seconds] : {std::pair{0.0f, 0.12}, std::pair{1.0f, 0.6}}) {
      SCOPED_TRACE(rate);
      SCOPED_TRACE(param);
      const int period = static_cast<int>(std::lround(seconds * rate)) + 1;
      auto e = test::prepared<VoiceEffect>(rate, {VoiceEffectMode::Echo, 1.0f, param});
      const std::vector<float> out = run(e, impulse(2 * period + 400));
      EXPECT_EQ(1.0f, out[0]);
      for (int i = 1; i < period; ++i) ASSERT_EQ(0.0f, out[i]) << i;
      EXPECT_EQ(1.0f, out[period]);
      BiquadSection lowPass;
      designBiquad(lowPass, FilterType::LowPass, rate, 4000.0, 0.0, 0.7071);
      for (int i = 2 * period; i < 2 * period + 400; ++i)
        ASSERT_NEAR(0.45f * lowPass.process(i == 2 * period ? 1.0f : 0.0f), out[i], 1e-6f) << i;
    }
  }
}

// Verifies the reverberator: the tail starts exactly one shortest-comb length after an
// impulse, at every rate, with each comb and allpass returning after its own length, and its
// 40 dB decay time grows with param.
TEST(VoiceEffectTest, ReverbTailDecaysSlowerWithParam) {
  for (double rate : {8000.0, 48000.0, 384000.0}) {
    SCOPED_TRACE(rate);
    auto e = test::prepared<VoiceEffect>(rate, {VoiceEffectMode::Reverb, 1.0f, 0.5f});
    const int first = e.combLength(0);
    const std::vector<float> out = run(e, impulse(first + e.allpassLength(0) + 10));
    for (int i = 1; i < first; ++i) ASSERT_EQ(0.0f, out[i]) << i;
    // Each comb's first return is the impulse x 0.06 in x 2.5 out; each allpass sends the
    // first one back inverted after its own length.
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(0.15f, out[e.combLength(c)], 1e-6f) << c;
    for (int a = 0; a < 2; ++a) EXPECT_NEAR(-0.15f, out[first + e.allpassLength(a)], 1e-6f) << a;
  }
  constexpr double kRate = 48000.0;
  constexpr int kWindow = 2400;  // 50 ms
  double previousDecay = 0.0;
  for (float param : {0.0f, 0.5f, 1.0f}) {
    SCOPED_TRACE(param);
    auto e = test::prepared<VoiceEffect>(kRate, {VoiceEffectMode::Reverb, 1.0f, param});
    const std::vector<float> out = run(e, impulse(8 * 48000));
    std::vector<double> energyDb;
    for (std::size_t i = kWindow; i + kWindow <= out.size(); i += kWindow)
      energyDb.push_back(
          test::toDb(test::rms(out, static_cast<int>(i), static_cast<int>(i + kWindow)) + 1e-30));
    const double loudest = *std::max_element(energyDb.begin(), energyDb.end());
    int lastAbove = 0;
    for (int w = 0; w < static_cast<int>(energyDb.size()); ++w)
      if (energyDb[w] > loudest - 40.0) lastAbove = w;
    ASSERT_LT(lastAbove + 1, static_cast<int>(energyDb.size())) << "tail did not decay";
    const double decaySeconds = (lastAbove + 1) * kWindow / kRate;
    EXPECT_GT(decaySeconds, previousDecay * 1.5);
    previousDecay = decaySeconds;
  }
}

// Verifies the ring modulator: a 1 kHz tone comes out as sidebands at 1 kHz +- 30 Hz (param 0)
// or +- 120 Hz (param 1) with the carrier suppressed, and an impulse recirculates through the
// comb after 4 ms (param 0) or 12 ms (param 1) plus one sample, at 0.55 of its level.
TEST(VoiceEffectTest, RingModulatorOscillatorAndCombFollowParam) {
  constexpr double kRate = 48000.0;
  for (const auto& [param, oscHz] : {std::pair{0.0f, 30.0}, std::pair{1.0f, 120.0}}) {
    SCOPED_TRACE(param);
    auto e = test::prepared<VoiceEffect>(kRate, {VoiceEffectMode::Robot, 1.0f, param});
    const std::vector<float> out = run(e, test::sine(1000.0, kRate, 48000));
    const auto amplitude = [&](double f) {
      return test::toneAmplitude(out, f, kRate, 24000, 48000);
    };
    EXPECT_GT(amplitude(1000.0 - oscHz), 0.1);
    EXPECT_GT(amplitude(1000.0 + oscHz), 0.1);
    EXPECT_LT(amplitude(1000.0), 0.01 * amplitude(1000.0 + oscHz));
  }
  // At 44.1 kHz those delays are 176.4 and 529.2 samples: the fractional read splits the
  // recirculated impulse between two neighbouring samples, with silence before.
  constexpr double kRate44 = 44100.0;
  for (const auto& [param, oscHz, delay] :
       {std::tuple{0.0f, 30.0, 176.4}, std::tuple{1.0f, 120.0, 529.2}}) {
    SCOPED_TRACE(param);
    // Impulse near the oscillator's crest: sample n sees phase (n + 1) x step.
    const int crest = static_cast<int>(kRate44 / (4.0 * oscHz)) - 1;
    const int whole = static_cast<int>(delay);
    const float fraction = static_cast<float>(delay - whole);
    auto comb = test::prepared<VoiceEffect>(kRate44, {VoiceEffectMode::Robot, 1.0f, param});
    std::vector<float> in(crest + whole + 3, 0.0f);
    in[crest] = 1.0f;
    const std::vector<float> response = run(comb, in);
    EXPECT_GT(response[crest], 0.97f);
    for (int i = crest + 1; i <= crest + whole; ++i) ASSERT_EQ(0.0f, response[i]) << i;
    EXPECT_NEAR((1.0f - fraction) * 0.55f * response[crest], response[crest + whole + 1], 1e-5f);
    EXPECT_NEAR(fraction * 0.55f * response[crest], response[crest + whole + 2], 1e-5f);
  }
}

// Verifies the saturations: a full-scale in-band tone comes out at the mode's normalised
// level (0.6 or 0.8) whatever the drive, never above it, and with odd harmonics; small signals
// gain with the drive; tones outside the band are at least 20 dB down.
TEST(VoiceEffectTest, SaturationsNormalisedAndBandLimited) {
  constexpr double kRate = 48000.0;
  for (const auto& [mode, level] : {std::pair{2, 0.6}, std::pair{3, 0.8}}) {
    SCOPED_TRACE(mode);
    const auto process = [&](float param, const std::vector<float>& in) {
      VoiceEffect e =
          test::prepared<VoiceEffect>(kRate, {static_cast<VoiceEffectMode>(mode), 1.0f, param});
      return run(e, in);
    };
    const auto smallGainDb = [&](float param, double f) {
      return test::toDb(test::rms(process(param, test::sine(f, kRate, 48000, 0.001)), 24000) /
                        (0.001 / std::sqrt(2.0)));
    };
    for (float param : {0.0f, 1.0f}) {
      SCOPED_TRACE(param);
      const std::vector<float> loud = process(param, test::sine(1000.0, kRate, 48000, 1.0));
      const float drive = mode == 2 ? param * 10.0f + 2.0f : param + param + 1.5f;
      double peak = 0.0;
      for (int i = 24000; i < 48000; ++i) peak = std::max(peak, std::fabs(double(loud[i])));
      // The saturator's output is bounded by level / tanh(drive); mode 2's final low-pass can
      // raise a peak by at most the sum of its impulse response's magnitudes.
      BiquadSection lowPass;
      designBiquad(lowPass, FilterType::LowPass, kRate, 3200.0, 0.0, 0.7071);
      double spread = 0.0;
      for (int i = 0; i < 4800; ++i) spread += std::fabs(lowPass.process(i == 0 ? 1.0f : 0.0f));
      EXPECT_LE(peak, level / std::tanh(drive) * (mode == 2 ? spread : 1.0));
      EXPECT_NEAR(level, peak, 0.1 * level);
      if (mode == 3 || param == 1.0f) {
        EXPECT_GT(test::toneAmplitude(loud, 3000.0, kRate, 24000, 48000), 0.02);
      }
      const double passband = smallGainDb(param, 1000.0);
      EXPECT_LT(smallGainDb(param, 100.0), passband - 20.0);
      EXPECT_LT(smallGainDb(param, 10000.0), passband - 20.0);
    }
    // Small-signal gain is drive / tanh(drive): 12 / tanh(12) against 2 / tanh(2) for mode 2.
    const double expectedDb = mode == 2
                                  ? test::toDb(12.0 / std::tanh(12.0) / (2.0 / std::tanh(2.0)))
                                  : test::toDb(3.5 / std::tanh(3.5) / (1.5 / std::tanh(1.5)));
    EXPECT_NEAR(expectedDb, smallGainDb(1.0f, 1000.0) - smallGainDb(0.0f, 1000.0), 0.1);
  }
}

// Verifies the off states and mode changes: mode 0 and mix 0 leave a block bit-exact; mix 0
// freezes the echo, which resumes where it stopped; a mode changed while the mix is 0 starts
// from the frozen state (the echo replays what the pitch shifter wrote into the shared line);
// an active change from mode 5 to 6 and back clears the line, and from 6 to 5 and back the
// reverberator.
TEST(VoiceEffectTest, OffStatesFreezeAndModeChangesClear) {
  constexpr double kRate = 48000.0;
  constexpr int kPeriod = 5761;  // 0.12 s + 1 sample
  const std::vector<float> noise = test::whiteNoise(kBlock, 31);

  VoiceEffect e;
  e.prepare(kRate);
  for (const auto& [mode, mix] : {std::pair{0, 1.0f}, std::pair{5, 0.0f}}) {
    e.configure({static_cast<VoiceEffectMode>(mode), mix, 0.0f});
    EXPECT_EQ(noise, run(e, noise)) << mode;
  }

  // First sample, counted from the end of the impulse's block, at which the echo mode's output
  // moves, after an impulse in `firstMode` and a detour through frozen or active blocks.
  enum class Detour { Frozen, FrozenInEchoMode, ActiveReverb };
  const auto echoAt = [&](int firstMode, Detour detour) {
    auto fx = test::prepared<VoiceEffect>(
        kRate, {static_cast<VoiceEffectMode>(firstMode), 1.0f, firstMode == 5 ? 0.0f : 0.5f});
    run(fx, impulse(kBlock));
    if (detour == Detour::ActiveReverb) {
      fx.configure({VoiceEffectMode::Reverb, 1.0f, 0.5f});
      run(fx, std::vector<float>(kBlock, 0.0f));
    } else {
      fx.configure(
          {static_cast<VoiceEffectMode>(detour == Detour::Frozen ? firstMode : 5), 0.0f, 0.0f});
      EXPECT_EQ(noise, run(fx, noise));
    }
    fx.configure({VoiceEffectMode::Echo, 1.0f, 0.0f});
    const std::vector<float> out = run(fx, std::vector<float>(2 * kPeriod, 0.0f));
    const auto it = std::find_if(out.begin(), out.end(), [](float v) { return v != 0.0f; });
    return it == out.end() ? -1 : static_cast<int>(it - out.begin());
  };
  EXPECT_EQ(kPeriod - kBlock, echoAt(5, Detour::Frozen));
  EXPECT_EQ(kPeriod - kBlock, echoAt(4, Detour::FrozenInEchoMode));
  EXPECT_EQ(-1, echoAt(5, Detour::ActiveReverb));

  // The converse: a reverb tail does not survive an active detour through the echo.
  auto reverb = test::prepared<VoiceEffect>(kRate, {VoiceEffectMode::Reverb, 1.0f, 1.0f});
  run(reverb, impulse(100 * kBlock));
  reverb.configure({VoiceEffectMode::Echo, 1.0f, 0.0f});
  run(reverb, std::vector<float>(kBlock, 0.0f));
  reverb.configure({VoiceEffectMode::Reverb, 1.0f, 1.0f});
  const std::vector<float> silence(8 * kBlock, 0.0f);
  EXPECT_EQ(silence, run(reverb, silence));
}

}  // namespace
}  // namespace vorlund
