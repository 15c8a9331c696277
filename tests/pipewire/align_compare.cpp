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
// align_compare --kept-up PLAYED.wav IN.wav EXPECTED.wav RECORDED.wav SECONDS
//   [REPAIRED_IN.wav REPAIRED_RECORDED.wav CYCLE]: where the graph kept up, the recording is
// exactly vorlund-process's output over the recorded input. A cycle the recorder lost (or
// took silent) while the microphone processed it shows in the recorded input as a break in
// its continuity with PLAYED, and from there the microphone's chain has heard something else
// than the recording says. Prints how far the recording follows EXPECTED sample for sample
// after the playback starts and where it parts. When it parts at a break and the repaired
// files are named, writes the input with the played frames put back and the recording with
// as many frames that match anything (NaN) and exits 4: vorlund-process over that input
// goes on matching. So does a difference at the first sound, for one CYCLE of silence that
// the recording lost before it. Otherwise exits 3 when fewer than SECONDS of the playback
// match (too little to judge: take again), 1 when the first difference is neither at a
// break nor at frames put back, as a fault of the microphone is.
// align_compare --right IN OUT.wav: writes IN's first channel as the right channel of a
// two-channel float WAV whose left channel is silent.
// align_compare EXPECTED.wav RECORDED.wav LAG: compares RECORDED[k + LAG] with EXPECTED[k]
// over their overlap and prints "gainDb G residualDb R": the recording's level against the
// expected output (its first channel), and what remains of their difference once that gain
// is taken out, relative to the expected output (the median over half-second windows).
// Recorded frames that match anything (NaN, put back by --kept-up) are left out.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>
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

// Where the recorded input stops following the played sound sample for sample (`at`), where
// it follows again (`resumes`) and the played frames it left out meanwhile (from `played`,
// `skipped` of them: the recording lost a cycle or took one silent, the playback went on).
struct Break {
  std::size_t at = 0;
  std::size_t resumes = 0;
  std::size_t played = 0;
  std::size_t skipped = 0;
};

// The breaks from the frame where the played sound begins in the recording (`start`, the
// recording's length when it never does) to the played sound's end.
std::vector<Break> continuityBreaks(const Sound& played, const Sound& input, std::size_t& start) {
  const auto c = static_cast<std::size_t>(played.channels);
  const std::size_t playedFrames = played.frames.size() / c;
  const std::size_t inputFrames = input.frames.size() / c;
  const auto same = [&](std::size_t k, std::size_t j, std::size_t count) {
    return std::equal(input.frames.begin() + static_cast<long>(k * c),
                      input.frames.begin() + static_cast<long>((k + count) * c),
                      played.frames.begin() + static_cast<long>(j * c));
  };
  // Eight frames, not all silent, find their place in the played sound.
  constexpr std::size_t kKey = 8;
  const auto key = [&](const std::vector<float>& frames, std::size_t k) {
    std::uint64_t hash = 1469598103934665603u;
    bool sound = false;
    for (std::size_t i = k * c; i < (k + kKey) * c; ++i) {
      std::uint32_t bits = 0;
      std::memcpy(&bits, &frames[i], sizeof bits);
      hash = (hash ^ bits) * 1099511628211u;
      sound = sound || frames[i] != 0.0f;
    }
    return sound ? hash : 0;
  };
  std::unordered_map<std::uint64_t, std::size_t> places;
  for (std::size_t j = 0; j + kKey <= playedFrames; ++j)
    if (const std::uint64_t h = key(played.frames, j); h != 0) places.emplace(h, j);
  const auto locate = [&](std::size_t k, std::size_t& j) {
    const auto place = places.find(key(input.frames, k));
    if (place == places.end() || !same(k, place->second, kKey)) return false;
    j = place->second;
    return true;
  };
  std::vector<Break> breaks;
  std::size_t k = 0, j = 0;
  while (k + kKey <= inputFrames && !locate(k, j)) ++k;
  start = k + kKey <= inputFrames ? k : inputFrames;
  if (start == inputFrames) return breaks;
  // The played sound's own silence before this sound: the recording held it too.
  const std::size_t lead = std::min(j, start);
  start -= lead;
  j -= lead;
  k = start;
  while (k < inputFrames && j < playedFrames) {
    if (same(k, j, 1)) {
      ++k;
      ++j;
      continue;
    }
    Break b{k, k, j, 0};
    while (k + kKey <= inputFrames && !locate(k, j)) ++k;
    if (k + kKey > inputFrames) break;
    b.resumes = k;
    b.skipped = j > b.played ? j - b.played : 0;
    breaks.push_back(b);
  }
  return breaks;
}

// Writes `sound` with `count` frames of `fill` (or from `from`) inserted at frame `at`.
bool writeInserted(const char* path, const Sound& sound, std::size_t at, std::size_t count,
                   const float* from, float fill) {
  const auto c = static_cast<std::size_t>(sound.channels);
  std::vector<float> frames(sound.frames.begin(), sound.frames.begin() + static_cast<long>(at * c));
  for (std::size_t i = 0; i < count * c; ++i) frames.push_back(from != nullptr ? from[i] : fill);
  frames.insert(frames.end(), sound.frames.begin() + static_cast<long>(at * c), sound.frames.end());
  return write(path, frames, sound.channels, sound.rate);
}

int keptUp(char** argv, int argc) {
  const char* repairedIn = argc == 10 ? argv[7] : nullptr;
  const char* repairedOut = argc == 10 ? argv[8] : nullptr;
  const std::size_t cycle = argc == 10 ? static_cast<std::size_t>(std::atol(argv[9])) : 0;
  Sound played, input, expected, recorded;
  if (!read(argv[2], played) || !read(argv[3], input) || !read(argv[4], expected) ||
      !read(argv[5], recorded) || played.channels != input.channels || recorded.channels != 1)
    return 2;
  const double seconds = std::atof(argv[6]);
  std::size_t start = 0;
  const std::vector<Break> breaks = continuityBreaks(played, input, start);
  // Over the playback only: the silence after it tells nothing. A repaired recording's
  // unknown frames (NaN) match anything.
  const auto e = static_cast<std::size_t>(expected.channels);
  const std::size_t end =
      std::min({expected.frames.size() / e, recorded.frames.size(),
                start + played.frames.size() / static_cast<std::size_t>(played.channels)});
  std::size_t differ = 0;
  while (differ < end && (recorded.frames[differ] == expected.frames[differ * e] ||
                          std::isnan(recorded.frames[differ])))
    ++differ;
  // A break spoils the output from where the lost block comes through the chain (its latency
  // and a cycle at most) or at once, when the output's own block was lost; the recorder may
  // place the break up to a cycle after.
  constexpr std::size_t kBefore = 2048, kAfter = 480;
  const auto nearest = std::find_if(breaks.begin(), breaks.end(), [&](const Break& b) {
    return b.at + kBefore >= differ && b.at <= differ + kAfter;
  });
  // A place already put back (its frames match anything) explains a difference as its break
  // did: the microphone may have heard a little else there than the played frames.
  bool putBack = false;
  for (std::size_t k = differ > kBefore ? differ - kBefore : 0;
       k < std::min(differ + kAfter, recorded.frames.size()); ++k)
    putBack = putBack || std::isnan(recorded.frames[k]);
  double power = 0.0;
  for (std::size_t k = start; k < differ; ++k)
    power += static_cast<double>(expected.frames[k * e]) * expected.frames[k * e];
  const double rate = played.rate;
  const double exact = differ > start ? static_cast<double>(differ - start) / rate : 0.0;
  std::printf("exact for %.2f s of the playback's %.2f s; ", exact,
              end > start ? static_cast<double>(end - start) / rate : 0.0);
  if (differ == end) {
    std::printf("%zu breaks in the input\n", breaks.size());
  } else if (putBack) {
    std::printf("parts at %.3f s, at frames put back\n", exact);
  } else if (nearest != breaks.end()) {
    std::printf("parts at %.3f s, at a break in the input (%zu in all)", exact, breaks.size());
    // The recording lost a cycle that the microphone heard, or took it silent: the played
    // frames go back into the input, and frames that match anything into the output.
    const Break& b = *nearest;
    if (repairedIn != nullptr && b.skipped > 0 && b.skipped <= 4 * cycle &&
        b.resumes - b.at <= 4 * cycle) {
      std::printf(": %zu frames put back for %zu\n", b.skipped, b.resumes - b.at);
      const auto c = static_cast<std::size_t>(played.channels);
      input.frames.erase(input.frames.begin() + static_cast<long>(b.at * c),
                         input.frames.begin() + static_cast<long>(b.resumes * c));
      recorded.frames.erase(recorded.frames.begin() + static_cast<long>(b.at),
                            recorded.frames.begin() + static_cast<long>(b.resumes));
      return writeInserted(repairedIn, input, b.at, b.skipped, played.frames.data() + b.played * c,
                           0.0f) &&
                     writeInserted(repairedOut, recorded, b.at, b.skipped, nullptr, std::nanf(""))
                 ? 4
                 : 2;
    }
    std::printf("\n");
  } else {
    std::printf("parts at %.3f s where the input kept up (%zu breaks elsewhere)", exact,
                breaks.size());
    // At the first sound: the recording lost a cycle of the silence before it.
    if (repairedIn != nullptr && power == 0.0 && start >= cycle &&
        !std::isnan(recorded.frames.front())) {
      std::printf(": a cycle of silence put back\n");
      return writeInserted(repairedIn, input, 0, cycle, nullptr, 0.0f) &&
                     writeInserted(repairedOut, recorded, 0, cycle, nullptr, std::nanf(""))
                 ? 4
                 : 2;
    }
    std::printf("\n");
  }
  if (exact < seconds) return 3;
  return power > 0.0 && (differ == end || putBack || nearest != breaks.end()) ? 0 : 1;
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
  if ((argc == 7 || argc == 10) && std::string_view(argv[1]) == "--kept-up")
    return keptUp(argv, argc);
  if (argc == 4 && std::string_view(argv[1]) == "--right") return rightOnly(argv[2], argv[3]);
  if (argc != 4) {
    std::fprintf(
        stderr,
        "usage: align_compare EXPECTED.wav RECORDED.wav LAG\n"
        "       align_compare --split TAKE.wav IN.wav OUT.wav\n"
        "       align_compare --frames FILE.wav\n"
        "       align_compare --join A.wav B.wav OUT.wav\n"
        "       align_compare --delayed IN.wav OUT.wav LAG FROM\n"
        "       align_compare --kept-up PLAYED.wav IN.wav EXPECTED.wav RECORDED.wav SECONDS\n"
        "                         [REPAIRED_IN.wav REPAIRED_RECORDED.wav CYCLE]\n"
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
    if (std::isnan(r)) continue;
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
      if (std::isnan(d)) continue;
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
