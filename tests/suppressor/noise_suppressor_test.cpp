#include "suppressor/noise_suppressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "signal_helpers.h"

namespace vorlund {
namespace {

using test::rms;
using test::toDb;
using test::whiteNoise;

constexpr float kReductionDb = 18.0f;
constexpr float kStrength = 0.5f;
// Largest error of the window-transform-overlap-add path on full-scale noise with unit gains
// (about 3e-7 measured): float rounding, far below the effect of any gain off 1 by 1e-4.
constexpr float kReconstructionError = 2e-6f;

NoiseSuppressor prepared(double rate, bool enabled = true, float reductionDb = kReductionDb) {
  auto ns = test::prepared<NoiseSuppressor>(
      rate, {.enabled = enabled, .reductionDb = reductionDb, .strength = kStrength});
  return ns;
}

std::vector<float> run(NoiseSuppressor& ns, const std::vector<float>& in) {
  std::vector<float> out(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) out[i] = ns.processSample(in[i]);
  return out;
}

int samples(double seconds, double rate) {
  return static_cast<int>(seconds * rate);
}

// Verifies the frame size at the rate-band boundaries and just above them, H = N / 4, and the
// frame-rate counts of the initial period and of a sub-window (0.25 s and 0.625 s of frames).
TEST(NoiseSuppressorTest, FrameSizeAndFrameCountsByRate) {
  const auto above = [](double rate) { return std::nextafter(rate, 1e9); };
  const struct {
    double rate;
    int size, initFrames, subwindowFrames;
  } cases[] = {{8000.0, 256, 31, 78},     {24000.0, 256, 93, 234},
               {25000.0, 256, 97, 244},   {above(25000.0), 512, 48, 122},
               {44100.0, 512, 86, 215},   {48000.0, 512, 93, 234},
               {50000.0, 512, 97, 244},   {above(50000.0), 1024, 48, 122},
               {100000.0, 1024, 97, 244}, {above(100000.0), 2048, 48, 122},
               {384000.0, 2048, 187, 468}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    NoiseSuppressor ns;
    ns.prepare(c.rate);
    EXPECT_EQ(c.size, ns.frameSize());
    EXPECT_EQ(c.size / 4, ns.hop());
    EXPECT_EQ(c.initFrames, ns.initFrames());
    EXPECT_EQ(c.subwindowFrames, ns.subwindowFrames());
  }
}

// Verifies the framing with suppression off: the output is the input delayed by exactly N
// samples, an impulse lands on sample N whatever its place in the hop, the first N outputs
// after a reset are silent (exactly so before the first frame), and the first frame after a
// reset comes exactly H samples later.
TEST(NoiseSuppressorTest, SuppressionOffDelaysByExactlyN) {
  for (double rate : {8000.0, 44100.0, 48000.0, 96000.0, 384000.0}) {
    SCOPED_TRACE(rate);
    NoiseSuppressor ns = prepared(rate, false);
    const int n = ns.frameSize();
    const int hop = ns.hop();
    const std::vector<float> in = whiteNoise(6 * n + 77, 11, 1.0f);
    const std::vector<float> out = run(ns, in);
    for (int t = 0; t < static_cast<int>(in.size()); ++t) {
      if (t < hop) {
        ASSERT_EQ(0.0f, out[t]) << t;
      }
      ASSERT_NEAR(t < n ? 0.0f : in[t - n], out[t], kReconstructionError) << t;
    }

    for (int position : {0, 1, hop - 1, hop, 2 * hop + 5, n - 1}) {
      SCOPED_TRACE(position);
      ns.reset();
      std::vector<float> response(3 * n);
      for (int t = 0; t < 3 * n; ++t) {
        response[t] = ns.processSample(t == position ? 1.0f : 0.0f);
        if (t == hop - 2 || t == hop - 1) {
          EXPECT_EQ(t == hop - 1 ? 1 : 0, ns.frameCount());
        }
      }
      for (int t = 0; t < 3 * n; ++t)
        ASSERT_NEAR(t == position + n ? 1.0f : 0.0f, response[t], kReconstructionError) << t;
    }
  }
}

// Verifies the suppression on stationary white noise at several rates and floors: learnt and
// held at the floor (output level and meter); switched off, every gain returns to exactly 1
// (the output is the delayed input again, the meter 0); and digital silence meters 0.
TEST(NoiseSuppressorTest, NoiseAtTheFloorUnityWhenOffSilenceMetersZero) {
  for (double rate : {16000.0, 48000.0, 96000.0}) {
    SCOPED_TRACE(rate);
    for (float reductionDb : {6.0f, kReductionDb}) {
      SCOPED_TRACE(reductionDb);
      NoiseSuppressor ns = prepared(rate, true, reductionDb);
      const std::vector<float> in = whiteNoise(samples(2.0, rate), 23, 0.1f);
      const std::vector<float> out = run(ns, in);
      const int from = samples(1.0, rate);
      EXPECT_NEAR(-reductionDb, toDb(rms(out, from) / rms(in, from)), 0.5);
      EXPECT_NEAR(-reductionDb, ns.suppressionDb(), 0.5);

      ns.configure({.enabled = false, .reductionDb = reductionDb, .strength = kStrength});
      const int n = ns.frameSize();
      const std::vector<float> after = run(ns, in);
      // Rising gains follow with 3 ms; 0.2 s is far more than the float gap to 1 needs.
      for (int t = samples(0.2, rate); t < static_cast<int>(in.size()); ++t)
        ASSERT_NEAR(in[t - n], after[t], kReconstructionError) << t;
      EXPECT_NEAR(0.0f, ns.suppressionDb(), 1e-6f);

      run(ns, std::vector<float>(2 * n, 0.0f));
      EXPECT_EQ(0.0f, ns.suppressionDb());
    }
  }
}

// Verifies that a steady tone 30 dB above the noise, starting after the initial period, keeps
// its level while the noise around it stays well down, for as long as the five seconds of
// minimum history remember the noise alone; afterwards the tone counts as noise and falls to
// the floor.
TEST(NoiseSuppressorTest, ToneHeldForTheMinimumHistoryThenSuppressed) {
  constexpr double kRate = 48000.0;
  constexpr double kToneHz = 1000.0;
  constexpr float kNoiseAmplitude = 0.01f;
  NoiseSuppressor ns = prepared(kRate);
  const int n = ns.frameSize();
  const int onset = samples(1.0, kRate);
  const int count = onset + samples(11.0, kRate) + n;
  const std::vector<float> noise = whiteNoise(count, 31, kNoiseAmplitude);
  // Uniform noise has an RMS of amplitude / sqrt(3); the tone's RMS is 30 dB above it.
  const double amplitude = kNoiseAmplitude / std::sqrt(3.0) * std::sqrt(2.0) * 31.6227766;
  std::vector<float> tone = test::sine(kToneHz, kRate, count, amplitude);
  std::fill(tone.begin(), tone.begin() + onset, 0.0f);
  std::vector<float> in(count);
  for (int i = 0; i < count; ++i) in[i] = noise[i] + tone[i];
  const std::vector<float> out = run(ns, in);

  // Tone level relative to its input, in dB, between two times after the onset.
  auto toneDb = [&](double from, double to) {
    double s = 0.0, c = 0.0;
    for (int i = onset + samples(from, kRate); i < onset + samples(to, kRate); ++i) {
      const double phase = 2.0 * std::numbers::pi * kToneHz * i / kRate;
      s += out[i + n] * std::sin(phase);
      c += out[i + n] * std::cos(phase);
    }
    return toDb(2.0 * std::hypot(s, c) / samples(to - from, kRate) / amplitude);
  };
  for (double t = 0.25; t < 5.0; t += 0.25) EXPECT_NEAR(0.0, toneDb(t, t + 0.25), 0.5) << t;
  EXPECT_NEAR(-kReductionDb, toneDb(7.0, 11.0), 0.5);

  // While the tone is held, what is left of the noise (output minus the delayed tone) stays
  // far below the input noise: only the few bins around the tone pass it.
  std::vector<float> residual(count - n);
  for (int i = 0; i < count - n; ++i) residual[i] = out[i + n] - tone[i];
  const int from = onset + samples(0.5, kRate);
  const int to = onset + samples(4.5, kRate);
  EXPECT_LT(toDb(rms(residual, from, to) / rms(noise, from, to)), -10.0);
}

// Verifies the gain smoothing on the meter, which reads 20 log10(g) while every bin shares the
// gain g: the first frame after a reset learns the noise, so every target is the floor and the
// gains fall from 1 with the 70 ms release; switched off, they rise towards 1 with 3 ms.
TEST(NoiseSuppressorTest, GainsFollowTheirTimeConstants) {
  for (double rate : {8000.0, 48000.0}) {
    SCOPED_TRACE(rate);
    NoiseSuppressor ns = prepared(rate);
    const int hop = ns.hop();
    const double period = hop / rate;
    const double floor = std::pow(10.0, -kReductionDb / 20.0);
    const std::vector<float> in = whiteNoise(hop, 71, 0.2f);
    run(ns, in);
    const double falling = floor + (1.0 - floor) * std::exp(-period / 0.070);
    EXPECT_NEAR(toDb(falling), ns.suppressionDb(), 0.01);
    ns.configure({.enabled = false, .reductionDb = kReductionDb, .strength = kStrength});
    run(ns, in);
    const double rising = 1.0 - (1.0 - falling) * std::exp(-period / 0.003);
    EXPECT_NEAR(toDb(rising), ns.suppressionDb(), 0.01);
  }
}

// Verifies that the frame count stops at its maximum instead of wrapping into a negative count,
// which would restart learning with a nonsense divisor: the noise stays at the floor. A
// negative count handed in restarts the learning like 0, without poisoning the output.
TEST(NoiseSuppressorTest, FrameCountSaturates) {
  NoiseSuppressor ns = prepared(16000.0);
  run(ns, whiteNoise(samples(2.0, 16000.0), 53, 0.1f));
  const std::vector<float> in = whiteNoise(samples(1.0, 16000.0), 59, 0.1f);
  for (std::int32_t count : {NoiseSuppressor::kMaxFrameCount - 3, -1}) {
    SCOPED_TRACE(count);
    ns.setFrameCount(count);
    const std::vector<float> out = run(ns, in);
    EXPECT_EQ(count < 0 ? samples(1.0, 16000.0) / ns.hop() : count + 3, ns.frameCount());
    EXPECT_NEAR(-kReductionDb, toDb(rms(out, ns.frameSize()) / rms(in)), 0.5);
  }
}

// Verifies that processing after a reset repeats a freshly prepared run bit for bit, past
// several sub-window ends and a relearn, so no signal or estimator state survives the reset,
// and that the meter reads 0 right after it, as before any frame.
TEST(NoiseSuppressorTest, ResetRepeatsExactly) {
  for (double rate : {8000.0, 48000.0}) {
    SCOPED_TRACE(rate);
    std::vector<float> in = whiteNoise(samples(3.0, rate), 61, 0.05f);
    const std::vector<float> tone = test::sine(440.0, rate, static_cast<int>(in.size()), 0.3);
    for (std::size_t i = in.size() / 2; i < in.size(); ++i) in[i] += tone[i];
    NoiseSuppressor ns = prepared(rate);
    const std::vector<float> first = run(ns, in);
    ns.setFrameCount(0);
    run(ns, whiteNoise(samples(2.0, rate), 67, 0.3f));
    ns.reset();
    EXPECT_EQ(0.0f, ns.suppressionDb());
    const std::vector<float> second = run(ns, in);
    ASSERT_EQ(0, std::memcmp(first.data(), second.data(), first.size() * sizeof(float)));
  }
}

// Verifies that the ring of sub-window minima advances on exactly the last frame of each
// sub-window after the initial period, and wraps after the eighth.
TEST(NoiseSuppressorTest, MinimumRingAdvancesPerSubwindow) {
  NoiseSuppressor ns = prepared(8000.0);
  const std::vector<float> frame = whiteNoise(ns.hop(), 79, 0.1f);
  auto runFrames = [&](int frames) {
    for (int i = 0; i < frames; ++i) run(ns, frame);
  };
  const int subwindow = ns.subwindowFrames();
  runFrames(ns.initFrames() + subwindow - 1);
  EXPECT_EQ(0, ns.ringSlot());
  runFrames(1);
  EXPECT_EQ(1, ns.ringSlot());
  runFrames(7 * subwindow - 1);
  EXPECT_EQ(7, ns.ringSlot());
  runFrames(1);
  EXPECT_EQ(0, ns.ringSlot());
}

}  // namespace
}  // namespace vorlund
