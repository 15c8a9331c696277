// align_compare EXPECTED.wav RECORDED.wav: finds where the expected output lies in a live
// recording (the recording starts earlier and ends later), then prints
// "gainDb G residualDb R": the recording's level against the expected output over their
// overlap (past the first two seconds, while the noise suppressor settles), and what remains
// of their difference once that gain is taken out, relative to the expected output (the
// median over half-second windows).
// align_compare --pad SECONDS IN OUT.wav: writes IN after SECONDS of silence as a float WAV,
// the input a live microphone that ran on silence before the take has really seen.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

std::vector<float> readMono(const char* path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "align_compare: cannot read %s\n", path);
    return {};
  }
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  std::vector<float> mono(static_cast<std::size_t>(info.frames));
  for (std::size_t k = 0; k < mono.size(); ++k) mono[k] = frames[k * info.channels];
  return mono;
}

// Magnitude per stretch of `step` samples less its mean: a coarse picture for the first
// search, in which loud overlaps do not outweigh matching ones.
std::vector<double> envelope(const std::vector<float>& x, std::size_t step) {
  std::vector<double> out(x.size() / step);
  double sum = 0.0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    for (std::size_t k = 0; k < step; ++k) out[i] += std::fabs(x[i * step + k]);
    sum += out[i];
  }
  for (double& value : out) value -= sum / static_cast<double>(out.size());
  return out;
}

// The lag of `b` against `a` (b[k + lag] ~ a[k]) in [from, to] with the largest correlation.
template <typename T>
long bestLag(const std::vector<T>& a, const std::vector<T>& b, long from, long to) {
  long best = from;
  double bestScore = -1e300;
  for (long lag = from; lag <= to; ++lag) {
    double score = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) {
      const long j = static_cast<long>(k) + lag;
      if (j >= 0 && j < static_cast<long>(b.size())) score += a[k] * b[static_cast<std::size_t>(j)];
    }
    if (score > bestScore) {
      bestScore = score;
      best = lag;
    }
  }
  return best;
}

}  // namespace

int pad(const char* secondsText, const char* in, const char* out) {
  SF_INFO info{};
  SNDFILE* input = sf_open(in, SFM_READ, &info);
  if (input == nullptr) return 2;
  const auto lead = static_cast<std::size_t>(std::atof(secondsText) * info.samplerate);
  std::vector<float> frames((lead + static_cast<std::size_t>(info.frames)) * info.channels);
  sf_readf_float(input, frames.data() + lead * info.channels, info.frames);
  sf_close(input);
  SF_INFO outInfo{};
  outInfo.samplerate = info.samplerate;
  outInfo.channels = info.channels;
  outInfo.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* output = sf_open(out, SFM_WRITE, &outInfo);
  if (output == nullptr) return 2;
  sf_writef_float(output, frames.data(), static_cast<sf_count_t>(frames.size() / info.channels));
  sf_close(output);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 5 && std::string_view(argv[1]) == "--pad") return pad(argv[2], argv[3], argv[4]);
  if (argc != 3) {
    std::fprintf(stderr,
                 "usage: align_compare EXPECTED.wav RECORDED.wav\n"
                 "       align_compare --pad SECONDS IN OUT.wav\n");
    return 2;
  }
  const std::vector<float> expected = readMono(argv[1]);
  const std::vector<float> recorded = readMono(argv[2]);
  constexpr std::size_t kStep = 48;
  constexpr std::size_t kSettle = 96000;
  if (expected.size() <= kSettle || recorded.size() < kStep) {
    std::fprintf(stderr, "align_compare: recordings too short\n");
    return 2;
  }
  const std::vector<double> a = envelope(expected, kStep);
  const std::vector<double> b = envelope(recorded, kStep);
  const long coarse = bestLag(a, b, -static_cast<long>(a.size()) / 2, static_cast<long>(b.size()));
  const long lag = bestLag(expected, recorded, coarse * static_cast<long>(kStep) - 4 * kStep,
                           coarse * static_cast<long>(kStep) + 4 * kStep);
  // Each half second is lined up on its own, near the overall lag: a live take may drop or
  // repeat a few blocks when the machine is busy, which shifts what follows.
  constexpr std::size_t kWindow = 24000;
  constexpr long kDrift = 2048;
  struct Window {
    std::size_t start;
    long lag;
  };
  std::vector<Window> windows;
  double cross = 0.0, power = 0.0, recordedPower = 0.0;
  for (std::size_t start = kSettle; start + kWindow <= expected.size(); start += kWindow) {
    const long first = static_cast<long>(start) + lag - kDrift;
    const long last = static_cast<long>(start + kWindow) + lag + kDrift;
    if (first < 0 || last > static_cast<long>(recorded.size())) continue;
    const std::vector<float> piece(expected.begin() + static_cast<long>(start),
                                   expected.begin() + static_cast<long>(start + kWindow));
    const long local = bestLag(piece, recorded, static_cast<long>(start) + lag - kDrift,
                               static_cast<long>(start) + lag + kDrift) -
                       static_cast<long>(start);
    for (std::size_t k = start; k < start + kWindow; ++k) {
      const double r = recorded[static_cast<std::size_t>(static_cast<long>(k) + local)];
      cross += r * expected[k];
      power += static_cast<double>(expected[k]) * expected[k];
      recordedPower += r * r;
    }
    windows.push_back({start, local});
  }
  if (windows.size() < 4 || power <= 0.0) {
    std::fprintf(stderr, "align_compare: too little overlap (lag %ld)\n", lag);
    return 2;
  }
  // The residual of each window with the common gain taken out, and their median.
  const double gain = cross / power;
  std::vector<double> residuals;
  for (const Window& window : windows) {
    double difference = 0.0, reference = 0.0;
    for (std::size_t k = window.start; k < window.start + kWindow; ++k) {
      const double e = gain * expected[k];
      const double d = recorded[static_cast<std::size_t>(static_cast<long>(k) + window.lag)] - e;
      difference += d * d;
      reference += e * e;
    }
    if (reference > 0.0) residuals.push_back(10.0 * std::log10(difference / reference));
  }
  std::nth_element(residuals.begin(), residuals.begin() + residuals.size() / 2, residuals.end());
  std::printf("gainDb %.3f residualDb %.2f\n", 10.0 * std::log10(recordedPower / power),
              residuals[residuals.size() / 2]);
  std::fprintf(stderr, "align_compare: lag %ld samples, fitted gain %.4f\n", lag, gain);
  return 0;
}
