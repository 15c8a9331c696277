#include "desk_noise.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

namespace vorlund::bench {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// splitmix64: the same numbers on every platform and standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  double uniform(double low, double high) {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return low + (high - low) * static_cast<double>(z >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t state_;
};

double rms(const std::vector<float>& samples) {
  double sum = 0.0;
  for (float x : samples) sum += static_cast<double>(x) * x;
  return std::sqrt(sum / static_cast<double>(std::max<std::size_t>(1, samples.size())));
}

// A second-order high-pass (audio-EQ cookbook, Q 0.707): takes the fan and hum out of the
// speech that the other talkers are made from.
std::vector<float> highPassed(const std::vector<float>& in, double rate, double hz) {
  const double w = kTwoPi * hz / rate, alpha = std::sin(w) / (2.0 * std::numbers::sqrt2 / 2.0);
  const double a0 = 1.0 + alpha, c = std::cos(w);
  const double b0 = (1.0 + c) / 2.0 / a0, b1 = -(1.0 + c) / a0, b2 = b0;
  const double a1 = -2.0 * c / a0, a2 = (1.0 - alpha) / a0;
  std::vector<float> out(in.size());
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (std::size_t n = 0; n < in.size(); ++n) {
    const double y = b0 * in[n] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1, x1 = in[n], y2 = y1, y1 = y;
    out[n] = static_cast<float>(y);
  }
  return out;
}

// Adds `speech` looped, read `rate` times as fast (pitch and pace together, as a different
// talker) from `offset`, times `gain`.
void addTalker(std::vector<float>& out, const std::vector<float>& speech, double rate,
               double offset, double gain) {
  const double length = static_cast<double>(speech.size());
  for (std::size_t n = 0; n < out.size(); ++n) {
    const double at = std::fmod(offset + static_cast<double>(n) * rate, length);
    const auto i = static_cast<std::size_t>(at);
    const double frac = at - static_cast<double>(i);
    out[n] += static_cast<float>(
        gain * ((1.0 - frac) * speech[i] + frac * speech[(i + 1) % speech.size()]));
  }
}

// One key: a short noise burst ringing a resonance of the keycap (1 to 5 kHz) and a duller
// one of the board, decaying within milliseconds.
void addClick(std::vector<float>& out, std::size_t at, double rate, double gain, Random& random) {
  struct Resonance {
    double hz, decaySeconds, mix;
  };
  const Resonance resonances[] = {
      {random.uniform(1000.0, 5000.0), random.uniform(0.003, 0.010), 1.0},
      {random.uniform(250.0, 600.0), random.uniform(0.004, 0.008), 0.4},
  };
  const auto burst = static_cast<std::size_t>(0.0015 * rate);
  for (const Resonance& r : resonances) {
    const double pole = std::exp(-1.0 / (r.decaySeconds * rate));
    const double w = kTwoPi * r.hz / rate;
    const double a1 = 2.0 * pole * std::cos(w), a2 = -pole * pole;
    // The resonator's gain at its own frequency taken out, so `mix` is each ring's share.
    const double peakGain = 1.0 / ((1.0 - pole) * 2.0 * std::sin(w));
    const auto length = static_cast<std::size_t>(6.0 * r.decaySeconds * rate);
    double y1 = 0.0, y2 = 0.0;
    for (std::size_t n = 0; n < length && at + n < out.size(); ++n) {
      const double x = n < burst ? random.uniform(-1.0, 1.0) : 0.0;
      const double y = x + a1 * y1 + a2 * y2;
      y2 = y1, y1 = y;
      out[at + n] += static_cast<float>(gain * r.mix * y / peakGain);
    }
  }
}

// Runs of typing (1.5 to 4 s, a key every 80 to 220 ms, each with its softer release) with
// gaps between, over speech and pauses alike.
std::vector<float> typing(std::size_t length, double rate, Random& random) {
  std::vector<float> out(length, 0.0f);
  double t = random.uniform(0.0, 0.5);
  const double total = static_cast<double>(length) / rate;
  while (t < total) {
    const double runEnd = t + random.uniform(1.5, 4.0);
    for (; t < std::min(runEnd, total); t += random.uniform(0.08, 0.22)) {
      const double gain = std::pow(10.0, random.uniform(-4.0, 4.0) / 20.0);
      addClick(out, static_cast<std::size_t>(t * rate), rate, gain, random);
      const double release = t + random.uniform(0.05, 0.1);
      if (release < total)
        addClick(out, static_cast<std::size_t>(release * rate), rate, 0.4 * gain, random);
    }
    t += random.uniform(0.4, 1.8);
  }
  return out;
}

// Six talkers, each the example's speech at its own pace and pitch, from its own point.
std::vector<float> chatter(std::size_t length, const std::vector<float>& speech, Random& random) {
  std::vector<float> out(length, 0.0f);
  for (double rate : {0.82, 0.9, 0.97, 1.05, 1.12, 1.2})
    addTalker(out, speech, rate, random.uniform(0.0, static_cast<double>(speech.size())),
              std::pow(10.0, random.uniform(-3.0, 3.0) / 20.0));
  return out;
}

// A television: a slower, deeper talker over music (notes of a pentatonic scale with their
// harmonics and a bass line), its level swinging by about 8 dB either way.
std::vector<float> television(std::size_t length, double rate, const std::vector<float>& speech,
                              Random& random) {
  std::vector<float> voice(length, 0.0f), music(length, 0.0f);
  addTalker(voice, speech, 0.88, random.uniform(0.0, static_cast<double>(speech.size())), 1.0);
  const double scale[] = {220.0, 246.9, 277.2, 329.6, 370.0, 440.0};
  const double total = static_cast<double>(length) / rate;
  int note = 0;
  for (double t = 0.0; t < total; t += random.uniform(0.35, 0.6), ++note) {
    double hz = scale[static_cast<int>(random.uniform(0.0, 6.0)) % 6];
    for (int voiceOfChord = 0; voiceOfChord < (note % 2 == 0 ? 2 : 1); ++voiceOfChord) {
      const auto start = static_cast<std::size_t>(t * rate);
      const auto end = std::min(length, start + static_cast<std::size_t>(1.2 * rate));
      for (std::size_t n = start; n < end; ++n) {
        const double s = static_cast<double>(n - start) / rate;
        const double envelope = std::min(1.0, s / 0.01) * std::exp(-s / 0.3);
        double sum = 0.0;
        for (int k = 1; k <= 4; ++k) sum += std::sin(kTwoPi * hz * k * s) / k;
        music[n] += static_cast<float>(envelope * sum);
      }
      hz /= 2.0;  // every other note, its bass an octave below
    }
  }
  const double balance = rms(voice) / std::max(1e-9, rms(music)) * std::pow(10.0, -3.0 / 20.0);
  std::vector<float> out(length);
  for (std::size_t n = 0; n < length; ++n) {
    const double t = static_cast<double>(n) / rate;
    const double swingDb = 6.0 * std::sin(kTwoPi * 0.13 * t) + 3.0 * std::sin(kTwoPi * 0.041 * t);
    out[n] = static_cast<float>((voice[n] + balance * music[n]) * std::pow(10.0, swingDb / 20.0));
  }
  return out;
}

// A ground loop's buzz: 50 Hz with strong odd and weaker even harmonics.
std::vector<float> hum(std::size_t length, double rate) {
  std::vector<float> out(length);
  const double amplitudes[] = {1.0, 0.25, 0.5, 0.18, 0.25};
  for (std::size_t n = 0; n < length; ++n) {
    double sum = 0.0;
    for (int k = 1; k <= 5; ++k)
      sum += amplitudes[k - 1] * std::sin(kTwoPi * 50.0 * k * static_cast<double>(n) / rate);
    out[n] = static_cast<float>(sum);
  }
  return out;
}

}  // namespace

std::vector<DeskNoise> deskNoises(std::size_t length, double sampleRate,
                                  const std::vector<float>& speech) {
  // The other talkers without the rumble and hum their recording may carry.
  const std::vector<float> talkers = highPassed(speech, sampleRate, 200.0);
  Random random(20261207);
  std::vector<DeskNoise> noises;
  noises.push_back({"typing", typing(length, sampleRate, random), 10.0});
  noises.push_back({"chatter", chatter(length, talkers, random), 10.0});
  noises.push_back({"television", television(length, sampleRate, talkers, random), 5.0});
  noises.push_back({"hum", hum(length, sampleRate), 10.0});
  return noises;
}

std::vector<float> withNoise(const std::vector<float>& base, const DeskNoise& noise,
                             double voiceRms) {
  const double gain = voiceRms * std::pow(10.0, -noise.belowVoiceDb / 20.0) / rms(noise.samples);
  std::vector<float> mixed = base;
  for (std::size_t n = 0; n < mixed.size() && n < noise.samples.size(); ++n)
    mixed[n] += static_cast<float>(gain * noise.samples[n]);
  return mixed;
}

}  // namespace vorlund::bench
