// align_compare EXPECTED.wav RECORDED.wav: finds where the expected output lies in a live
// recording (the recording starts earlier and ends later), then prints
// "gainDb G residualDb R": the recording's level against the expected output over their
// overlap (past the first two seconds, while the noise suppressor settles), and what remains
// of their difference once that gain is taken out, relative to the expected output (the
// median over half-second windows).
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: align_compare EXPECTED.wav RECORDED.wav\n");
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
  double cross = 0.0, power = 0.0, recordedPower = 0.0;
  std::vector<std::size_t> overlap;
  for (std::size_t k = kSettle; k < expected.size(); ++k) {
    const long j = static_cast<long>(k) + lag;
    if (j < 0 || j >= static_cast<long>(recorded.size())) continue;
    const double r = recorded[static_cast<std::size_t>(j)];
    cross += r * expected[k];
    power += static_cast<double>(expected[k]) * expected[k];
    recordedPower += r * r;
    overlap.push_back(k);
  }
  if (overlap.size() < kSettle || power <= 0.0) {
    std::fprintf(stderr, "align_compare: no overlap (lag %ld)\n", lag);
    return 2;
  }
  const double gain = cross / power;
  // The residual per half second, and their median: a live take may drop or repeat a few
  // blocks when the machine is busy, which shifts what follows; the median ignores those.
  constexpr std::size_t kWindow = 24000;
  std::vector<double> windows;
  double difference = 0.0, reference = 0.0;
  for (std::size_t i = 0; i < overlap.size(); ++i) {
    const std::size_t k = overlap[i];
    const double d =
        recorded[static_cast<std::size_t>(static_cast<long>(k) + lag)] - gain * expected[k];
    difference += d * d;
    reference += gain * gain * expected[k] * expected[k];
    if ((i + 1) % kWindow == 0) {
      if (reference > 0.0) windows.push_back(10.0 * std::log10(difference / reference));
      difference = reference = 0.0;
    }
  }
  if (windows.empty()) return 2;
  std::nth_element(windows.begin(), windows.begin() + windows.size() / 2, windows.end());
  std::printf("gainDb %.3f residualDb %.2f\n", 10.0 * std::log10(recordedPower / power),
              windows[windows.size() / 2]);
  std::fprintf(stderr, "align_compare: lag %ld samples, fitted gain %.4f\n", lag, gain);
  return 0;
}
