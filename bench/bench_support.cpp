#include "bench_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "chain/biquad.h"
#include "chain/numbers.h"

namespace vorlund::bench {
namespace {

// Linear congruential generator: the same numbers on every build and platform.
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed) {}
  // Uniform in [0, 1).
  double unit() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ / 4294967296.0;
  }
  // Uniform in [-1, 1).
  float symmetric() { return static_cast<float>(2.0 * unit() - 1.0); }

 private:
  std::uint32_t state_;
};

constexpr double kSpeechRmsDb = -24.0;
constexpr double kNoiseRmsDb = -36.0;

// Formant frequencies of five vowels (a, i, u, e, o), Hz.
constexpr std::array<std::array<double, 3>, 5> kVowels = {{{730.0, 1090.0, 2440.0},
                                                           {270.0, 2290.0, 3010.0},
                                                           {300.0, 870.0, 2240.0},
                                                           {530.0, 1840.0, 2480.0},
                                                           {570.0, 840.0, 2410.0}}};
constexpr std::array<float, 3> kFormantWeights = {1.0f, 0.6f, 0.3f};
constexpr double kFormantBandwidthHz = 90.0;

double rms(const std::vector<float>& x, const std::vector<bool>* where) {
  double sum = 0.0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (where != nullptr && !(*where)[i]) continue;
    sum += static_cast<double>(x[i]) * x[i];
    ++count;
  }
  return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

void scaleTo(std::vector<float>& x, double rmsDb, const std::vector<bool>* where) {
  const double now = rms(x, where);
  if (now <= 0.0) return;
  const auto factor = static_cast<float>(std::pow(10.0, rmsDb / 20.0) / now);
  for (float& v : x) v *= factor;
}

}  // namespace

SpeechSignal speechLikeSignal(double rate, double seconds, std::uint32_t seed) {
  const auto count = static_cast<std::size_t>(rate * seconds);
  SpeechSignal out;
  out.speech.assign(count, 0.0f);
  out.noise.assign(count, 0.0f);
  std::vector<bool> talking(count, false);
  Random random(seed);

  // Background: white noise plus a strong low-passed share, a fan-like pinkish hiss.
  {
    float lowPassed = 0.0f;
    const auto pole = static_cast<float>(std::exp(-kTwoPi * 400.0 / rate));
    for (float& v : out.noise) {
      const float white = random.symmetric();
      lowPassed = lowPassed * pole + white * (1.0f - pole);
      v = 0.25f * white + 4.0f * lowPassed;
    }
  }

  std::array<BiquadSection, 3> formants{};
  BiquadSection hiss{};
  designBiquad(hiss, FilterType::HighPass, rate, std::min(4500.0, 0.4 * rate), 0.0, 0.7071);
  double phase = 0.0;
  double t = 0.3;
  while (t < seconds) {
    const double spurtEnd = t + 1.0 + 2.0 * random.unit();
    const double pitchStart = 100.0 + 60.0 * random.unit();
    const double spurtStart = t;
    while (t < spurtEnd && t < seconds) {
      const double length = 0.12 + 0.18 * random.unit();
      const bool fricative = random.unit() < 0.2;
      const auto& vowel = kVowels[static_cast<std::size_t>(random.unit() * kVowels.size())];
      for (int f = 0; f < 3; ++f)
        designBiquad(formants[f], FilterType::BandPass, rate, vowel[f], 0.0,
                     vowel[f] / kFormantBandwidthHz);
      const float level = static_cast<float>(0.6 + 0.4 * random.unit());
      const auto first = static_cast<std::size_t>(t * rate);
      const auto last = std::min(count, static_cast<std::size_t>((t + length) * rate));
      const double ramp = 0.02 * rate;
      for (std::size_t i = first; i < last; ++i) {
        const double intoSyllable = static_cast<double>(i - first);
        const double left = static_cast<double>(last - i);
        const double edge = std::min({1.0, intoSyllable / ramp, left / ramp});
        const auto envelope = static_cast<float>(level * std::sin(0.5 * std::numbers::pi * edge));
        const double now = i / rate;
        float sample;
        if (fricative) {
          sample = 0.5f * hiss.process(random.symmetric());
        } else {
          // Pitch falls through the spurt and wobbles a little.
          const double pitch = pitchStart *
                               (1.0 - 0.15 * (now - spurtStart) / (spurtEnd - spurtStart)) *
                               (1.0 + 0.02 * std::sin(kTwoPi * 5.0 * now));
          phase += pitch / rate;
          phase -= std::floor(phase);
          const float source = static_cast<float>(2.0 * phase - 1.0);
          sample = 0.0f;
          for (int f = 0; f < 3; ++f) sample += kFormantWeights[f] * formants[f].process(source);
        }
        out.speech[i] = envelope * sample;
        talking[i] = true;
      }
      t += length + 0.02 * random.unit();
    }
    t += 0.4 + 1.1 * random.unit();
  }

  scaleTo(out.speech, kSpeechRmsDb, &talking);
  scaleTo(out.noise, kNoiseRmsDb, nullptr);
  out.mix.resize(count);
  for (std::size_t i = 0; i < count; ++i) out.mix[i] = out.speech[i] + out.noise[i];

  // A pause sample is one with no speech within the margin on either side.
  out.inPause.assign(count, false);
  const auto margin = static_cast<std::size_t>(kPauseMarginSeconds * rate);
  std::size_t lastTalk = 0;
  bool seenTalk = false;
  for (std::size_t i = 0; i < count; ++i) {
    if (talking[i]) {
      lastTalk = i;
      seenTalk = true;
    }
    out.inPause[i] = !talking[i] && (!seenTalk || i - lastTalk > margin);
  }
  std::size_t nextTalk = count;
  for (std::size_t i = count; i-- > 0;) {
    if (talking[i]) nextTalk = i;
    if (nextTalk < count && nextTalk - i <= margin) out.inPause[i] = false;
  }
  return out;
}

void lockForProcessing(BlockFrame& frame, const ParameterBlock& record, double rate,
                       std::uint32_t channels) {
  const auto block = static_cast<std::uint32_t>(rate / 100.0);
  frame.setRecord(record);
  frame.start({static_cast<float>(rate), channels, block, block});
}

ParameterBlock defaultRecord() {
  ParameterBlock r;
  setDefaults(r);
  return r;
}

ParameterBlock suppressorOnlyRecord() {
  ParameterBlock r = defaultRecord();
  r.highPassEnabled = r.humFilterEnabled = r.plosiveEnabled = r.gateEnabled = 0;
  r.eqEnabled = r.deEsserEnabled = r.agcEnabled = r.compEnabled = r.limiterEnabled = 0;
  r.gateAuto = 0;
  r.effectMode = 0;
  r.nsEnabled = 1;
  return r;
}

ParameterBlock everyStageRecord(int effectMode) {
  ParameterBlock r = defaultRecord();
  r.highPassOrder = 4;
  r.humFilterEnabled = r.gateEnabled = r.agcEnabled = 1;
  for (int i = 0; i < ParameterBlock::kBandCount; ++i) {
    r.eqBands[i].enabled = 1;
    r.eqBands[i].gainDb = i % 2 == 0 ? 2.0f : -2.0f;
  }
  r.toneLow = 0.3f;
  r.tonePresence = 0.3f;
  r.toneAir = 0.3f;
  r.effectMode = effectMode;
  return r;
}

ParameterBlock effectRecord(int effectMode) {
  ParameterBlock r = defaultRecord();
  r.effectMode = effectMode;
  return r;
}

}  // namespace vorlund::bench
