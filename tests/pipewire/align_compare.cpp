// align_compare --split TAKE.wav IN.wav OUT.wav: a take recorded in one stream holds the
// fake microphone's channels and then the Vorlund microphone's; writes the first ones as IN
// and the last as OUT (float WAVs), so that IN is exactly what the microphone received.
// align_compare --frames FILE.wav: prints its length in frames.
// align_compare --join A.wav B.wav OUT.wav: B after A (the same channels), what a microphone
// that heard A and then B received.
// align_compare --delayed IN.wav OUT.wav LAG FROM: counts the samples of OUT from FROM on
// that differ from the mean of IN's channels LAG samples earlier (a bypass that keeps the
// latency), prints the count and fails when more than one in a hundred differ: a graph cycle
// that a busy machine drops spoils the latency's worth of samples after it, a bypass without
// the delay or the fold spoils nearly all.
// align_compare --right IN OUT.wav: writes IN's first channel as the right channel of a
// two-channel float WAV whose left channel is silent.
// align_compare EXPECTED.wav RECORDED.wav LAG: compares RECORDED[k + LAG] with EXPECTED[k]
// over their overlap and prints "gainDb G residualDb R": the recording's level against the
// expected output (its first channel), and what remains of their difference once that gain
// is taken out, relative to the expected output (the median over half-second windows).
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

struct Sound {
  std::vector<float> frames;
  int channels = 0;
  int rate = 0;
};

bool read(const char* path, Sound& sound) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "align_compare: cannot read %s\n", path);
    return false;
  }
  sound.frames.resize(static_cast<std::size_t>(info.frames * info.channels));
  sound.frames.resize(static_cast<std::size_t>(
      sf_readf_float(file, sound.frames.data(), info.frames) * info.channels));
  sound.channels = info.channels;
  sound.rate = info.samplerate;
  sf_close(file);
  return true;
}

bool write(const char* path, const std::vector<float>& frames, int channels, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path, SFM_WRITE, &info);
  if (file == nullptr) return false;
  sf_writef_float(file, frames.data(), static_cast<sf_count_t>(frames.size() / channels));
  sf_close(file);
  return true;
}

int split(const char* take, const char* in, const char* out) {
  Sound sound;
  if (!read(take, sound) || sound.channels < 2) return 2;
  const auto c = static_cast<std::size_t>(sound.channels);
  std::vector<float> input, output;
  for (std::size_t k = 0; k + c <= sound.frames.size(); k += c) {
    input.insert(input.end(), sound.frames.begin() + static_cast<long>(k),
                 sound.frames.begin() + static_cast<long>(k + c - 1));
    output.push_back(sound.frames[k + c - 1]);
  }
  return write(in, input, sound.channels - 1, sound.rate) && write(out, output, 1, sound.rate) ? 0
                                                                                               : 2;
}

int join(const char* first, const char* second, const char* out) {
  Sound a, b;
  if (!read(first, a) || !read(second, b) || a.channels != b.channels) return 2;
  a.frames.insert(a.frames.end(), b.frames.begin(), b.frames.end());
  return write(out, a.frames, a.channels, a.rate) ? 0 : 2;
}

int delayed(const char* in, const char* out, long lag, std::size_t from) {
  Sound input, output;
  if (!read(in, input) || !read(out, output) || output.channels != 1) return 2;
  const auto c = static_cast<std::size_t>(input.channels);
  std::size_t differ = 0, checked = 0;
  for (std::size_t k = from; k < output.frames.size(); ++k) {
    const long j = static_cast<long>(k) - lag;
    if (j < 0 || static_cast<std::size_t>(j + 1) * c > input.frames.size()) continue;
    // The fold of the effect: the channels summed in order, times the reciprocal.
    float sum = 0.0f;
    for (std::size_t i = 0; i < c; ++i) sum += input.frames[static_cast<std::size_t>(j) * c + i];
    if (output.frames[k] != sum * (1.0f / static_cast<float>(c))) ++differ;
    ++checked;
  }
  std::printf("differing %zu of %zu\n", differ, checked);
  return checked > 0 && differ * 100 <= checked ? 0 : 1;
}

int rightOnly(const char* in, const char* out) {
  Sound sound;
  if (!read(in, sound) || sound.channels < 1) return 2;
  const auto c = static_cast<std::size_t>(sound.channels);
  std::vector<float> frames;
  for (std::size_t k = 0; k + c <= sound.frames.size(); k += c) {
    frames.push_back(0.0f);
    frames.push_back(sound.frames[k]);
  }
  return write(out, frames, 2, sound.rate) ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string_view(argv[1]) == "--split") return split(argv[2], argv[3], argv[4]);
  if (argc == 3 && std::string_view(argv[1]) == "--frames") {
    Sound sound;
    if (!read(argv[2], sound)) return 2;
    std::printf("%zu\n", sound.frames.size() / static_cast<std::size_t>(sound.channels));
    return 0;
  }
  if (argc == 5 && std::string_view(argv[1]) == "--join") return join(argv[2], argv[3], argv[4]);
  if (argc == 6 && std::string_view(argv[1]) == "--delayed")
    return delayed(argv[2], argv[3], std::atol(argv[4]),
                   static_cast<std::size_t>(std::atol(argv[5])));
  if (argc == 4 && std::string_view(argv[1]) == "--right") return rightOnly(argv[2], argv[3]);
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: align_compare EXPECTED.wav RECORDED.wav LAG\n"
                 "       align_compare --split TAKE.wav IN.wav OUT.wav\n"
                 "       align_compare --frames FILE.wav\n"
                 "       align_compare --join A.wav B.wav OUT.wav\n"
                 "       align_compare --delayed IN.wav OUT.wav LAG FROM\n"
                 "       align_compare --right IN OUT.wav\n");
    return 2;
  }
  Sound expected, recorded;
  if (!read(argv[1], expected) || !read(argv[2], recorded)) return 2;
  // vorlund-process writes the mono result to every channel: the first one stands for all.
  for (Sound* sound : {&expected, &recorded}) {
    const auto c = static_cast<std::size_t>(sound->channels);
    for (std::size_t k = 0; k * c < sound->frames.size(); ++k)
      sound->frames[k] = sound->frames[k * c];
    sound->frames.resize(sound->frames.size() / c);
  }
  const long lag = std::atol(argv[3]);
  double cross = 0.0, power = 0.0, recordedPower = 0.0;
  std::size_t overlap = 0;
  for (std::size_t k = 0; k < expected.frames.size(); ++k) {
    const long j = static_cast<long>(k) + lag;
    if (j < 0 || j >= static_cast<long>(recorded.frames.size())) continue;
    const double e = expected.frames[k];
    const double r = recorded.frames[static_cast<std::size_t>(j)];
    cross += r * e;
    power += e * e;
    recordedPower += r * r;
    ++overlap;
  }
  if (overlap < static_cast<std::size_t>(expected.rate) || power <= 0.0) {
    std::fprintf(stderr, "align_compare: too little overlap (%zu samples)\n", overlap);
    return 2;
  }
  // The residual of each half second with the common gain taken out, and their median: a
  // graph cycle that runs late on a busy machine (PipeWire then drops or repeats a block)
  // spoils the few windows around it, not the verdict.
  const double gain = cross / power;
  constexpr std::size_t kWindow = 24000;
  std::vector<double> residuals;
  for (std::size_t start = 0; start + kWindow <= expected.frames.size(); start += kWindow) {
    double difference = 0.0, reference = 0.0;
    for (std::size_t k = start; k < start + kWindow; ++k) {
      const long j = static_cast<long>(k) + lag;
      if (j < 0 || j >= static_cast<long>(recorded.frames.size())) continue;
      const double e = gain * expected.frames[k];
      const double d = recorded.frames[static_cast<std::size_t>(j)] - e;
      difference += d * d;
      reference += e * e;
    }
    // An exact match counts as -200 dB rather than -inf, which awk would not read.
    if (reference > 0.0)
      residuals.push_back(std::max(10.0 * std::log10(difference / reference), -200.0));
  }
  if (residuals.empty()) {
    std::fprintf(stderr, "align_compare: the expected output is silent\n");
    return 2;
  }
  std::nth_element(residuals.begin(), residuals.begin() + static_cast<long>(residuals.size() / 2),
                   residuals.end());
  std::printf("gainDb %.3f residualDb %.2f\n", 10.0 * std::log10(recordedPower / power),
              residuals[residuals.size() / 2]);
  return 0;
}
