#include "stoi.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <numeric>

#include "chain/numbers.h"
#include "suppressor/fft.h"

namespace vorlund::bench {
namespace {

constexpr double kRate = 10000.0;
constexpr int kFrame = 256;
constexpr int kHop = kFrame / 2;
constexpr int kFftSize = 512;
constexpr int kBands = 15;
constexpr double kLowestCentreHz = 150.0;
constexpr int kSegmentFrames = 30;
constexpr double kClipDb = -15.0;
constexpr double kDynamicRangeDb = 40.0;
// Half the resampling filter's length, in output samples.
constexpr double kSincHalfWidth = 16.0;

// To 10 kHz by a Blackman-windowed sinc low-pass at the new Nyquist frequency. The taps depend
// only on where an output sample falls between input samples, which repeats for the usual
// rates (five places from 48 kHz), so each such place's taps are worked out once.
std::vector<double> resampled(const std::vector<float>& x, std::size_t length, double rate) {
  const double ratio = rate / kRate;
  const double halfWidth = kSincHalfWidth * ratio;
  const auto reach = static_cast<std::ptrdiff_t>(std::ceil(halfWidth));
  std::map<long long, std::vector<double>> tapsAt;
  std::vector<double> out(static_cast<std::size_t>(static_cast<double>(length) / ratio));
  for (std::size_t n = 0; n < out.size(); ++n) {
    const double centre = static_cast<double>(n) * ratio;
    const auto base = static_cast<std::ptrdiff_t>(std::floor(centre));
    const double offset = centre - static_cast<double>(base);
    std::vector<double>& taps = tapsAt[std::llround(offset * 1e9)];
    if (taps.empty()) {
      for (std::ptrdiff_t k = -reach; k <= reach + 1; ++k) {
        const double u = (static_cast<double>(k) - offset) / ratio;  // in output samples
        const double sinc =
            u == 0.0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
        const double w = std::fabs(u) >= kSincHalfWidth
                             ? 0.0
                             : 0.42 + 0.5 * std::cos(std::numbers::pi * u / kSincHalfWidth) +
                                   0.08 * std::cos(kTwoPi * u / kSincHalfWidth);
        taps.push_back(sinc * w / ratio);
      }
    }
    double sum = 0.0;
    for (std::ptrdiff_t k = -reach; k <= reach + 1; ++k) {
      const std::ptrdiff_t at = base + k;
      if (at >= 0 && at < static_cast<std::ptrdiff_t>(length))
        sum += x[static_cast<std::size_t>(at)] * taps[static_cast<std::size_t>(k + reach)];
    }
    out[n] = sum;
  }
  return out;
}

std::vector<double> hann() {
  std::vector<double> w(kFrame);
  for (int i = 0; i < kFrame; ++i) w[i] = 0.5 - 0.5 * std::cos(kTwoPi * (i + 1) / (kFrame + 1));
  return w;
}

// Leaves out the frames where the clean speech is silent, from both, and joins the rest again
// by overlap-add.
void dropSilentFrames(std::vector<double>& clean, std::vector<double>& processed) {
  const std::vector<double> w = hann();
  std::vector<double> energies;
  for (std::size_t at = 0; at + kFrame <= clean.size(); at += kHop) {
    double e = 0.0;
    for (int i = 0; i < kFrame; ++i) e += std::pow(clean[at + i] * w[i], 2);
    energies.push_back(10.0 * std::log10(e + 1e-30));
  }
  if (energies.empty()) return;
  const double loudest = *std::max_element(energies.begin(), energies.end());
  std::vector<double> keptClean, keptProcessed;
  std::size_t kept = 0;
  for (std::size_t f = 0; f < energies.size(); ++f) {
    if (energies[f] <= loudest - kDynamicRangeDb) continue;
    const std::size_t to = kept * kHop, from = f * kHop;
    keptClean.resize(to + kFrame, 0.0);
    keptProcessed.resize(to + kFrame, 0.0);
    for (int i = 0; i < kFrame; ++i) {
      keptClean[to + i] += clean[from + i] * w[i];
      keptProcessed[to + i] += processed[from + i] * w[i];
    }
    ++kept;
  }
  clean = std::move(keptClean);
  processed = std::move(keptProcessed);
}

// The one-third-octave band magnitudes, band-major: kBands rows of one value per frame.
std::vector<std::vector<double>> bandEnvelopes(const std::vector<double>& x) {
  static const Fft fft = [] {
    Fft f;
    f.setup(kFftSize);
    return f;
  }();
  const std::vector<double> w = hann();
  const double binHz = kRate / kFftSize;
  std::vector<std::vector<double>> bands(kBands);
  std::vector<float> re(kFftSize), im(kFftSize);
  for (std::size_t at = 0; at + kFrame <= x.size(); at += kHop) {
    std::fill(re.begin(), re.end(), 0.0f);
    std::fill(im.begin(), im.end(), 0.0f);
    for (int i = 0; i < kFrame; ++i) re[i] = static_cast<float>(x[at + i] * w[i]);
    fft.transform(re.data(), im.data(), false);
    for (int b = 0; b < kBands; ++b) {
      // Edges a sixth of an octave either side of the centre, rounded to the nearest bins.
      const auto edge = [&](double sixths) {
        return static_cast<int>(
            std::lround(kLowestCentreHz * std::pow(2.0, (2.0 * b + sixths) / 6.0) / binHz));
      };
      double power = 0.0;
      for (int k = edge(-1.0); k < std::min(edge(1.0), kFftSize / 2 + 1); ++k)
        power += static_cast<double>(re[k]) * re[k] + static_cast<double>(im[k]) * im[k];
      bands[b].push_back(std::sqrt(power));
    }
  }
  return bands;
}

double correlation(const std::vector<double>& x, const std::vector<double>& y) {
  const double mx = std::accumulate(x.begin(), x.end(), 0.0) / static_cast<double>(x.size());
  const double my = std::accumulate(y.begin(), y.end(), 0.0) / static_cast<double>(y.size());
  double xy = 0.0, xx = 0.0, yy = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    xy += (x[i] - mx) * (y[i] - my);
    xx += (x[i] - mx) * (x[i] - mx);
    yy += (y[i] - my) * (y[i] - my);
  }
  return xy / (std::sqrt(xx * yy) + 1e-30);
}

}  // namespace

double stoi(const std::vector<float>& clean, const std::vector<float>& processed,
            double sampleRate) {
  const std::size_t length = std::min(clean.size(), processed.size());
  std::vector<double> x = resampled(clean, length, sampleRate);
  std::vector<double> y = resampled(processed, length, sampleRate);
  dropSilentFrames(x, y);
  const auto cleanBands = bandEnvelopes(x), processedBands = bandEnvelopes(y);
  const std::size_t frames = cleanBands[0].size();
  const double clipFactor = 1.0 + std::pow(10.0, -kClipDb / 20.0);
  double sum = 0.0;
  std::size_t count = 0;
  std::vector<double> a(kSegmentFrames), b(kSegmentFrames);
  for (std::size_t end = kSegmentFrames; end <= frames; ++end) {
    for (int band = 0; band < kBands; ++band) {
      double normA = 0.0, normB = 0.0;
      for (int i = 0; i < kSegmentFrames; ++i) {
        a[i] = cleanBands[band][end - kSegmentFrames + i];
        b[i] = processedBands[band][end - kSegmentFrames + i];
        normA += a[i] * a[i];
        normB += b[i] * b[i];
      }
      // The processed envelope scaled to the clean one's energy and clipped to at most 15 dB
      // above it, so that one badly damaged stretch cannot dominate.
      const double scale = std::sqrt(normA / (normB + 1e-30));
      for (int i = 0; i < kSegmentFrames; ++i) b[i] = std::min(b[i] * scale, a[i] * clipFactor);
      sum += correlation(a, b);
      ++count;
    }
  }
  return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

}  // namespace vorlund::bench
