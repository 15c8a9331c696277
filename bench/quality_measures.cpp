#include "quality_measures.h"

#include <algorithm>
#include <cmath>

#include "chain/numbers.h"
#include "suppressor/fft.h"

namespace vorlund::bench {
namespace {

// Log-spectral distance: frames of about 20 ms (a power of two), half overlapping, Hann
// windowed; a frame is speech when its clean power is within 30 dB of the loudest frame.
constexpr double kFrameSeconds = 0.02;
constexpr double kSpeechFrameRangeDb = 30.0;
constexpr double kLowestHz = 100.0;
constexpr double kHighestHz = 8000.0;
// Power floor of a bin, 100 dB below a full-scale sine's bin, so silent bins stay finite.
constexpr double kFloorDb = -100.0;

double db(double power) {
  return 10.0 * std::log10(std::max(power, 1e-30));
}

}  // namespace

QualityFigures measureQuality(const SpeechSignal& signal, const std::vector<float>& output,
                              int latency, double rate) {
  const std::vector<float>& clean = signal.speech;
  const std::size_t first = static_cast<std::size_t>(kQualitySkipSeconds * rate);
  const std::size_t end = std::min(clean.size(), output.size() - static_cast<std::size_t>(latency));
  auto out = [&](std::size_t t) { return static_cast<double>(output[t + latency]); };

  double cross = 0.0, outPower = 0.0, cleanPower = 0.0;
  for (std::size_t t = first; t < end; ++t) {
    cross += clean[t] * out(t);
    outPower += out(t) * out(t);
    cleanPower += static_cast<double>(clean[t]) * clean[t];
  }
  const double scale = outPower > 0.0 ? cross / outPower : 0.0;

  QualityFigures q;
  double error = 0.0, pause = 0.0, voice = 0.0;
  std::size_t pauseCount = 0;
  for (std::size_t t = first; t < end; ++t) {
    const double e = clean[t] - scale * out(t);
    error += e * e;
    if (signal.inPause[t]) {
      pause += out(t) * out(t);
      ++pauseCount;
    } else {
      voice += out(t) * out(t);
    }
  }
  q.sdrDb = db(cleanPower) - db(error);
  const auto perSample = [](double sum, std::size_t count) {
    return db(sum / static_cast<double>(std::max<std::size_t>(count, 1)));
  };
  q.pauseLevelDb = pauseCount > 0 ? perSample(pause, pauseCount) + db(scale * scale) : 0.0;
  q.voiceToPauseDb = perSample(voice, end - first - pauseCount) - perSample(pause, pauseCount);

  int n = 1;
  while (n < kFrameSeconds * rate) n *= 2;
  Fft fft;
  fft.setup(n);
  std::vector<float> window(n), re(n), im(n);
  for (int i = 0; i < n; ++i) window[i] = static_cast<float>(0.5 - 0.5 * std::cos(kTwoPi * i / n));
  const double fullScaleBin = (n / 4.0) * (n / 4.0);
  const double floor = fullScaleBin * std::pow(10.0, kFloorDb / 10.0);
  const int lowBin = static_cast<int>(std::ceil(kLowestHz * n / rate));
  const int highBin = std::min(n / 2, static_cast<int>(kHighestHz * n / rate));

  auto spectrum = [&](auto sample, std::size_t at, std::vector<double>& power) {
    for (int i = 0; i < n; ++i) {
      re[i] = static_cast<float>(sample(at + i)) * window[i];
      im[i] = 0.0f;
    }
    fft.transform(re.data(), im.data(), false);
    power.resize(n / 2 + 1);
    for (int k = 0; k <= n / 2; ++k)
      power[k] = static_cast<double>(re[k]) * re[k] + static_cast<double>(im[k]) * im[k];
  };
  std::vector<double> cleanFramePower;
  const std::size_t hop = static_cast<std::size_t>(n / 2);
  for (std::size_t at = first; at + n <= end; at += hop) {
    double p = 0.0;
    for (int i = 0; i < n; ++i) p += static_cast<double>(clean[at + i]) * clean[at + i];
    cleanFramePower.push_back(p);
  }
  const double loudest = *std::max_element(cleanFramePower.begin(), cleanFramePower.end());
  std::vector<double> cleanSpectrum, outSpectrum;
  double distance = 0.0;
  int frames = 0;
  std::size_t index = 0;
  for (std::size_t at = first; at + n <= end; at += hop, ++index) {
    if (db(cleanFramePower[index]) < db(loudest) - kSpeechFrameRangeDb) continue;
    spectrum([&](std::size_t t) { return static_cast<double>(clean[t]); }, at, cleanSpectrum);
    spectrum([&](std::size_t t) { return scale * out(t); }, at, outSpectrum);
    double sum = 0.0;
    for (int k = lowBin; k <= highBin; ++k) {
      const double d = db(cleanSpectrum[k] + floor) - db(outSpectrum[k] + floor);
      sum += d * d;
    }
    distance += std::sqrt(sum / (highBin - lowBin + 1));
    ++frames;
  }
  q.logSpectralDistanceDb = frames > 0 ? distance / frames : 0.0;
  return q;
}

}  // namespace vorlund::bench
