// Signal generators and measurements shared by the unit tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

#include "chain/biquad.h"

namespace vorlund::test {

inline std::vector<float> sine(double frequency, double rate, int count, double amplitude = 0.5,
                               double phase = 0.0) {
  std::vector<float> out(count);
  for (int i = 0; i < count; ++i)
    out[i] = static_cast<float>(amplitude *
                                std::sin(2.0 * std::numbers::pi * frequency * i / rate + phase));
  return out;
}

// Uniform white noise in [-amplitude, amplitude) from a linear congruential generator, so every
// build and platform sees the same samples.
inline std::vector<float> whiteNoise(int count, std::uint32_t seed, float amplitude = 0.5f) {
  std::vector<float> out(count);
  for (float& x : out) {
    seed = seed * 1664525u + 1013904223u;
    x = static_cast<float>(static_cast<std::int32_t>(seed)) / 2147483648.0f * amplitude;
  }
  return out;
}

inline double rms(const std::vector<float>& x, int from = 0, int to = -1) {
  if (to < 0) to = static_cast<int>(x.size());
  double sum = 0.0;
  for (int i = from; i < to; ++i) sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(sum / (to - from));
}

inline double toDb(double ratio) {
  return 20.0 * std::log10(ratio);
}

// Gain in dB of a processor at one frequency, from the RMS of the settled second half of a
// one-second sine. `process` maps one float sample to one float sample.
template <typename Process>
double measuredGainDb(Process&& process, double frequency, double rate, double seconds = 1.0) {
  const int count = static_cast<int>(rate * seconds);
  std::vector<float> in = sine(frequency, rate, count);
  std::vector<float> out(count);
  for (int i = 0; i < count; ++i) out[i] = process(in[i]);
  return toDb(rms(out, count / 2) / rms(in, count / 2));
}

// Analytic complex response of one section at `frequency`, from its coefficients.
inline std::complex<double> sectionResponse(const BiquadSection& s, double frequency, double rate) {
  const double w = 2.0 * std::numbers::pi * frequency / rate;
  const std::complex<double> z1 = std::polar(1.0, -w);
  const std::complex<double> z2 = z1 * z1;
  return (double(s.b0) + double(s.b1) * z1 + double(s.b2) * z2) /
         (1.0 + double(s.a1) * z1 + double(s.a2) * z2);
}

// Analytic magnitude in dB of one section at `frequency`.
inline double sectionResponseDb(const BiquadSection& s, double frequency, double rate) {
  return 20.0 * std::log10(std::abs(sectionResponse(s, frequency, rate)));
}

// Amplitude of the component at `frequency` in x[from, to), by projection onto a complex
// exponential; exact for a sine with a whole number of cycles in the window.
inline double toneAmplitude(const std::vector<float>& x, double frequency, double rate, int from,
                            int to) {
  std::complex<double> sum = 0.0;
  const double w = 2.0 * std::numbers::pi * frequency / rate;
  for (int i = from; i < to; ++i) sum += static_cast<double>(x[i]) * std::polar(1.0, -w * i);
  return 2.0 * std::abs(sum) / (to - from);
}

// Speech-like: a harmonic tone whose pitch glides irregularly around 140 Hz (so that no
// delay but the true one lines it up again) and whose level moves like syllables, over quiet
// noise; channel c carries it at level (1 - 0.2 c), or all alike when `sameChannels`.
inline std::vector<float> voiceLike(int rate, int channels, double seconds, double level = 0.15,
                                    bool sameChannels = false) {
  const int frames = static_cast<int>(std::lround(rate * seconds));
  const std::vector<float> noise = whiteNoise(frames, 5, 0.003f);
  std::vector<float> out(static_cast<std::size_t>(frames) * channels);
  double phase = 0.0;
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double pitch = 140.0 + 40.0 * std::sin(2.0 * std::numbers::pi * 0.7 * t) +
                         20.0 * std::sin(2.0 * std::numbers::pi * 1.9 * t);
    phase += 2.0 * std::numbers::pi * pitch / rate;
    const double envelope = 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * 3.0 * t);
    double tone = 0.0;
    for (int h = 1; h <= 6 && 200.0 * h < rate / 2.0; ++h) tone += std::sin(h * phase) / h;
    for (int c = 0; c < channels; ++c)
      out[static_cast<std::size_t>(i) * channels + c] =
          static_cast<float>(level * envelope * tone * (sameChannels ? 1.0 : 1.0 - 0.2 * c)) +
          noise[i];
  }
  return out;
}

// A long input that walks every stage through its cases: voiced bursts over noise, pauses of
// noise alone, digital silence, low-frequency pops, hissing bursts, a DC step, a very quiet
// passage, and full-scale bursts that drive the limiter, in segments of varying length chosen
// by a seeded generator.
inline std::vector<float> variedSignal(double rate, double seconds, std::uint32_t seed) {
  const int count = static_cast<int>(rate * seconds);
  std::vector<float> out(count, 0.0f);
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed / 4294967296.0;
  };
  const std::vector<float> noise = whiteNoise(count, seed + 1u, 1.0f);
  double phase = 0.0;
  int i = 0;
  while (i < count) {
    const int length = std::min(count - i, static_cast<int>(rate * (0.05 + 0.6 * next())));
    const int kind = static_cast<int>(next() * 8.0);
    const double pitch = 90.0 + 200.0 * next();
    const double level = std::pow(10.0, (-50.0 + 48.0 * next()) / 20.0);
    for (int j = i; j < i + length; ++j) {
      const double t = (j - i) / rate;
      const double background = 0.003 * noise[j];
      double x = 0.0;
      switch (kind) {
        case 0:  // voiced: a buzzy harmonic tone
          phase += pitch / rate;
          for (int h = 1; h <= 6; ++h) x += std::sin(2.0 * std::numbers::pi * h * phase) / h;
          x = level * x + background;
          break;
        case 1:  // noise alone
          x = background;
          break;
        case 2:  // digital silence
          x = 0.0;
          break;
        case 3:  // a low-frequency pop
          x = level * 4.0 * std::sin(2.0 * std::numbers::pi * 40.0 * t) * std::exp(-t * 30.0);
          break;
        case 4:  // hiss: white noise at speech level
          x = level * noise[j];
          break;
        case 5:  // DC step with noise
          x = 0.2 + background;
          break;
        case 6:  // very quiet tone
          x = 1e-5 * std::sin(2.0 * std::numbers::pi * 1000.0 * t);
          break;
        default:  // full scale and above, for the limiter
          x = 1.5 * std::sin(2.0 * std::numbers::pi * pitch * t);
          break;
      }
      out[j] = static_cast<float>(x);
    }
    i += std::max(length, 1);
  }
  return out;
}

// A stage prepared for `rate` and then configured with `settings`.
template <typename Stage>
Stage prepared(double rate, const typename Stage::Settings& settings) {
  Stage stage;
  stage.prepare(rate);
  stage.configure(settings);
  return stage;
}

// `x` through a stage's per-sample process().
template <typename Stage>
std::vector<float> processEach(Stage& stage, std::vector<float> x) {
  for (float& v : x) v = stage.process(v);
  return x;
}

// `x` through a stage's (or the chain's) block process() in place, `block` samples at a time.
template <typename Stage>
void processInBlocks(Stage& stage, std::vector<float>& x, int block = 480) {
  for (std::size_t at = 0; at < x.size(); at += block)
    stage.process(x.data() + at, static_cast<int>(std::min<std::size_t>(block, x.size() - at)));
}

}  // namespace vorlund::test
