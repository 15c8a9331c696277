// Reads a live take: a two-channel recording whose first channel is what the microphone under
// test received and whose second is what it gave, both taken in the same graph cycles.
//
// align_compare input TAKE.wav OUT.wav: the microphone passes its input through unchanged
// while bypassed, and starts processing, from its reset state, at the first block after the
// bypass is lifted. Finds that sample (the first where the channels differ), writes the input
// from there on to OUT.wav as a float WAV and prints "start N".
// align_compare compare TAKE.wav START EXPECTED.wav: compares the second channel from START on
// with EXPECTED sample by sample and prints "differing D of N gainDb G": how many samples are
// not bit-identical, and the take's level against EXPECTED's over the same samples.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

struct Take {
  std::vector<float> input;
  std::vector<float> output;
};

std::vector<float> readFrames(const char* path, int& channels) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "align_compare: cannot read %s\n", path);
    return {};
  }
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
  frames.resize(static_cast<std::size_t>(sf_readf_float(file, frames.data(), info.frames)) *
                static_cast<std::size_t>(info.channels));
  sf_close(file);
  channels = info.channels;
  return frames;
}

bool readTake(const char* path, Take& take) {
  int channels = 0;
  const std::vector<float> frames = readFrames(path, channels);
  if (channels != 2) {
    std::fprintf(stderr, "align_compare: %s is not a two-channel take\n", path);
    return false;
  }
  for (std::size_t k = 0; k + 1 < frames.size(); k += 2) {
    take.input.push_back(frames[k]);
    take.output.push_back(frames[k + 1]);
  }
  return true;
}

int findStart(const char* takePath, const char* outPath) {
  Take take;
  if (!readTake(takePath, take)) return 2;
  std::size_t start = 0;
  std::size_t passed = 0;  // non-zero samples passed through unchanged before the start
  while (start < take.input.size() && take.input[start] == take.output[start]) {
    if (take.input[start] != 0.0f) ++passed;
    ++start;
  }
  // A tenth of a second of signal passed through shows the bypass and the recording were in
  // place before processing began.
  constexpr std::size_t kMinPassed = 4800;
  if (start == take.input.size() || passed < kMinPassed) {
    std::fprintf(stderr,
                 "align_compare: no bypassed signal followed by processing in %s (%zu of %zu "
                 "samples passed through, %zu of them non-zero)\n",
                 takePath, start, take.input.size(), passed);
    return 1;
  }
  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* out = sf_open(outPath, SFM_WRITE, &info);
  if (out == nullptr) return 2;
  const auto count = static_cast<sf_count_t>(take.input.size() - start);
  const bool written = sf_writef_float(out, take.input.data() + start, count) == count;
  sf_close(out);
  if (!written) return 2;
  std::printf("start %zu\n", start);
  return 0;
}

int compare(const char* takePath, const char* startText, const char* expectedPath) {
  Take take;
  int channels = 0;
  const std::vector<float> expected = readFrames(expectedPath, channels);
  if (!readTake(takePath, take) || channels != 1) return 2;
  const auto start = static_cast<std::size_t>(std::strtoull(startText, nullptr, 10));
  if (start >= take.output.size()) return 2;
  const std::size_t count = std::min(expected.size(), take.output.size() - start);
  std::size_t differing = 0;
  double takePower = 0.0, expectedPower = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const double live = take.output[start + k];
    if (take.output[start + k] != expected[k]) ++differing;
    takePower += live * live;
    expectedPower += static_cast<double>(expected[k]) * expected[k];
  }
  if (count == 0 || takePower <= 0.0 || expectedPower <= 0.0) {
    std::fprintf(stderr, "align_compare: nothing to compare\n");
    return 2;
  }
  std::printf("differing %zu of %zu gainDb %.3f\n", differing, count,
              10.0 * std::log10(takePower / expectedPower));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (argc == 4 && mode == "input") return findStart(argv[2], argv[3]);
  if (argc == 5 && mode == "compare") return compare(argv[2], argv[3], argv[4]);
  std::fprintf(stderr,
               "usage: align_compare input TAKE.wav OUT.wav\n"
               "       align_compare compare TAKE.wav START EXPECTED.wav\n");
  return 2;
}
