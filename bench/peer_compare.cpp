// Side-by-side cost of the voice chain, the peer libraries and the plain-loop anchor, in one
// process: the same 60 s of generated speech over noise at 48 kHz in 10 ms blocks, the
// contestants interleaved run by run so that drifts of the machine hit all of them alike, seven
// runs, medians. Our chain runs through the block frame, exactly as APOProcess drives it. The
// peers are the system's WebRTC audio processing module and SpeexDSP preprocessor, driven
// through their public interfaces as any application would. Then the noise-suppression quality
// of our records on the same signal, and the memory each instance holds. Our chain runs on
// each vector path the processor has (SSE2, and AVX2 where present), chosen as VORLUND_SIMD
// would choose it.
//
//   vorlund-compare [runs] [seconds]
//
// With --quality, only how well each processing recovers speech at a desk: the suppressor
// alone, every shipped preset and the two peers' suppressors, on generated speech alone and
// under six noises (SDR gained, voice-to-pause distance gained, change of intelligibility).
//
//   vorlund-compare --quality [seconds]
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <speex/speex_preprocess.h>
#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <memory>

#include "bench_support.h"
#include "chain/vector_path.h"
#include "common/preset_library.h"
#include "desk_noise.h"
#include "engine/block_frame.h"
#include "plain_anchor.h"
#include "quality_measures.h"
#include "stoi.h"

namespace vorlund::bench {
namespace {

constexpr double kRate = 48000.0;
constexpr std::uint32_t kBlock = 480;

// SpeexDSP's suppression depth, dB.
constexpr int kSpeexNoiseSuppressDb = -18;

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A block frame locked for mono 48 kHz with the given record, as LockForProcess leaves it.
struct LockedFrame {
  explicit LockedFrame(const ParameterBlock& record, double rate, std::uint32_t channels) {
    lockForProcessing(frame, record, rate, channels);
  }
  // APOProcess on one block of interleaved samples, in place.
  void process(float* interleaved, std::uint32_t frames) {
    connection = {reinterpret_cast<UINT_PTR>(interleaved), frames, BUFFER_VALID, 0};
    APO_CONNECTION_PROPERTY* connections[] = {&connection};
    frame.process(1, connections, 1, connections);
  }
  BlockFrame frame;
  APO_CONNECTION_PROPERTY connection{};
};

// Processes `signal` in 10 ms blocks with `process`, timing only the processing calls.
double cpuMsPerSecond(const std::vector<float>& signal,
                      const std::function<void(float*, std::uint32_t)>& process) {
  std::vector<float> block(kBlock);
  double spent = 0.0;
  for (std::size_t at = 0; at + kBlock <= signal.size(); at += kBlock) {
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(at), kBlock, block.begin());
    const double start = threadSeconds();
    process(block.data(), kBlock);
    spent += threadSeconds() - start;
  }
  return 1000.0 * spent / (static_cast<double>(signal.size()) / kRate);
}

struct Contestant {
  std::string name;
  std::function<double(const std::vector<float>&)> run;  // one run, CPU ms per second
  std::vector<double> results;
};

std::string fixedDb(double db) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f dB", db);
  return text;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// VORLUND_SIMD set to `path` while the stages are prepared, then as it was.
class PathForced {
 public:
  explicit PathForced(VectorPath path) {
    if (const char* value = std::getenv(kName)) before_ = value;
    setenv(kName, path == VectorPath::Avx2 ? "avx2" : "sse2", 1);
  }
  ~PathForced() {
    if (before_.empty()) {
      unsetenv(kName);
    } else {
      setenv(kName, before_.c_str(), 1);
    }
  }
  PathForced(const PathForced&) = delete;
  PathForced& operator=(const PathForced&) = delete;

 private:
  static constexpr const char* kName = "VORLUND_SIMD";
  std::string before_;
};

// The vector paths this processor runs.
std::vector<VectorPath> runnablePaths() {
  std::vector<VectorPath> paths = {VectorPath::Sse2};
  if (avx2Supported()) paths.push_back(VectorPath::Avx2);
  return paths;
}

double chainRun(const ParameterBlock& record, VectorPath path, const std::vector<float>& signal) {
  std::unique_ptr<LockedFrame> locked;
  {
    PathForced forced(path);
    locked = std::make_unique<LockedFrame>(record, kRate, 1);
  }
  return cpuMsPerSecond(signal, [&](float* b, std::uint32_t n) { locked->process(b, n); });
}

// WebRTC audio processing on float blocks: high-pass and noise suppression at kHigh, with the
// adaptive digital gain control when `withAgc` (the experimental AGC off).
std::unique_ptr<webrtc::AudioProcessing> makeWebRtc(bool withAgc) {
  webrtc::Config config;
  config.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
  std::unique_ptr<webrtc::AudioProcessing> apm(webrtc::AudioProcessing::Create(config));
  apm->high_pass_filter()->Enable(true);
  apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kHigh);
  apm->noise_suppression()->Enable(true);
  if (withAgc) {
    apm->gain_control()->set_mode(webrtc::GainControl::kAdaptiveDigital);
    apm->gain_control()->Enable(true);
  }
  return apm;
}

void webRtcBlock(webrtc::AudioProcessing& apm, float* block) {
  const webrtc::StreamConfig stream(static_cast<int>(kRate), 1);
  float* channels[] = {block};
  if (apm.ProcessStream(channels, stream, stream, channels) != 0) std::abort();
}

double webRtcRun(bool withAgc, const std::vector<float>& signal) {
  const auto apm = makeWebRtc(withAgc);
  return cpuMsPerSecond(signal, [&](float* b, std::uint32_t) { webRtcBlock(*apm, b); });
}

// The SpeexDSP preprocessor, denoise and AGC, on 16-bit blocks (its interface), the conversion
// counted with it.
SpeexPreprocessState* makeSpeex(int depthDb, bool withAgc) {
  SpeexPreprocessState* state = speex_preprocess_state_init(kBlock, static_cast<int>(kRate));
  int on = 1, agc = withAgc ? 1 : 0;
  speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_DENOISE, &on);
  speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &depthDb);
  speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_AGC, &agc);
  return state;
}

void speexBlock(SpeexPreprocessState* state, std::vector<spx_int16_t>& pcm, float* b,
                std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i)
    pcm[i] = static_cast<spx_int16_t>(std::lrint(std::clamp(b[i], -1.0f, 1.0f) * 32767.0f));
  speex_preprocess_run(state, pcm.data());
  for (std::uint32_t i = 0; i < n; ++i) b[i] = static_cast<float>(pcm[i]) * (1.0f / 32768.0f);
}

double speexRun(const std::vector<float>& signal) {
  SpeexPreprocessState* state = makeSpeex(kSpeexNoiseSuppressDb, true);
  std::vector<spx_int16_t> pcm(kBlock);
  const double ms =
      cpuMsPerSecond(signal, [&](float* b, std::uint32_t n) { speexBlock(state, pcm, b, n); });
  speex_preprocess_state_destroy(state);
  return ms;
}

// Every stage at 384 kHz with 64 interleaved channels: seconds of audio per CPU second.
double realTimeFactor384(const std::vector<float>& mono, VectorPath path) {
  constexpr double kHighRate = 384000.0;
  constexpr std::uint32_t kChannels = 64;
  constexpr auto kFrames = static_cast<std::uint32_t>(kHighRate / 100.0);
  std::unique_ptr<LockedFrame> prepared;
  {
    PathForced forced(path);
    prepared =
        std::make_unique<LockedFrame>(everyStageRecord(kCostliestEffectMode), kHighRate, kChannels);
  }
  LockedFrame& locked = *prepared;
  std::vector<float> buffer(static_cast<std::size_t>(kFrames) * kChannels);
  double spent = 0.0;
  std::size_t blocks = 0;
  for (std::size_t at = 0; at + kFrames <= mono.size(); at += kFrames, ++blocks) {
    for (std::uint32_t k = 0; k < kFrames; ++k)
      std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(k) * kChannels, kChannels,
                  mono[at + k]);
    const double start = threadSeconds();
    locked.process(buffer.data(), kFrames);
    spent += threadSeconds() - start;
  }
  return static_cast<double>(blocks) * kFrames / kHighRate / spent;
}

void printQuality(const SpeechSignal& signal) {
  std::printf("\nNoise-suppression quality on the same signal (after the first %.0f s)\n",
              kQualitySkipSeconds);
  std::printf(
      "| processing | SDR improvement (dB) | noise attenuation in pauses (dB) | "
      "log-spectral distance on speech (dB) |\n|---|---|---|---|\n");
  const QualityFigures input = measureQuality(signal, signal.mix, 0, kRate);
  std::printf("| unprocessed noisy input | 0.0 | 0.0 | %.2f |\n", input.logSpectralDistanceDb);
  const std::pair<const char*, ParameterBlock> rows[] = {
      {"default record (whole chain)", defaultRecord()},
      {"noise suppressor only (default settings)", suppressorOnlyRecord()}};
  for (const auto& [name, record] : rows) {
    LockedFrame locked(record, kRate, 1);
    std::vector<float> out = signal.mix;
    for (std::size_t at = 0; at + kBlock <= out.size(); at += kBlock)
      locked.process(out.data() + at, kBlock);
    const QualityFigures q = measureQuality(signal, out, locked.frame.latencySamples(), kRate);
    std::printf("| %s | %.1f | %.1f | %.2f |\n", name, q.sdrDb - input.sdrDb,
                input.pauseLevelDb - q.pauseLevelDb, q.logSpectralDistanceDb);
  }
}

void printMemory() {
  std::printf("\nMemory per instance, bytes (objects plus every buffer they own)\n");
  std::printf(
      "| rate (Hz) | VoiceChain object | noise suppressor buffers | transform tables | "
      "voice effect buffers | limiter buffers | VoiceChain total | BlockFrame total "
      "(10 ms blocks) |\n|---|---|---|---|---|---|---|---|\n");
  for (double rate : {48000.0, 384000.0}) {
    LockedFrame locked(defaultRecord(), rate, 1);
    const ChainMemory m = locked.frame.chain().memoryUse();
    std::printf("| %.0f | %zu | %zu | %zu | %zu | %zu | %zu | %zu |\n", rate, m.object,
                m.suppressorBuffers, m.transformTables, m.voiceEffectBuffers, m.limiterBuffers,
                m.total(), locked.frame.memoryBytes());
  }
}

// An output to measure and the delay it carries.
struct Processed {
  std::vector<float> out;
  int latency = 0;
};

// The delay (0 to 50 ms) at which `out` best follows `clean`, over two seconds after the
// settling time: the peers do not report theirs.
int delayOf(const std::vector<float>& clean, const std::vector<float>& out) {
  const auto from = static_cast<std::size_t>(kQualitySkipSeconds * kRate);
  const auto span = static_cast<std::size_t>(2.0 * kRate);
  int best = 0;
  double bestSum = -1.0;
  for (int lag = 0; lag <= static_cast<int>(0.05 * kRate); ++lag) {
    double sum = 0.0;
    for (std::size_t t = from; t < from + span && t + lag < out.size(); ++t)
      sum += static_cast<double>(clean[t]) * out[t + static_cast<std::size_t>(lag)];
    if (sum > bestSum) bestSum = sum, best = lag;
  }
  return best;
}

// `in` through `process` in 10 ms blocks.
std::vector<float> inBlocks(std::vector<float> in,
                            const std::function<void(float*, std::uint32_t)>& process) {
  for (std::size_t at = 0; at + kBlock <= in.size(); at += kBlock) process(in.data() + at, kBlock);
  return in;
}

struct QualityRow {
  std::string name;
  std::function<Processed(const std::vector<float>& in, const std::vector<float>& clean)> run;
};

std::vector<QualityRow> qualityRows() {
  std::vector<QualityRow> rows;
  const auto chain = [](const ParameterBlock& record) {
    return [record](const std::vector<float>& in, const std::vector<float>&) {
      LockedFrame locked(record, kRate, 1);
      std::vector<float> out =
          inBlocks(in, [&](float* b, std::uint32_t n) { locked.process(b, n); });
      return Processed{std::move(out), locked.frame.latencySamples()};
    };
  };
  rows.push_back(
      {"Vorlund noise suppressor alone (default settings)", chain(suppressorOnlyRecord())});
  const PresetCatalog presets(std::nullopt, std::nullopt);
  for (const PresetInfo& preset : presets.presets()) {
    ParameterBlock record = defaultRecord();
    if (!presets.load(preset.name, record).ok()) std::abort();
    rows.push_back({"Vorlund preset `" + preset.name + "`", chain(record)});
  }
  rows.push_back({"WebRTC audio processing: high-pass + NS kHigh",
                  [](const std::vector<float>& in, const std::vector<float>& clean) {
                    const auto apm = makeWebRtc(false);
                    std::vector<float> out =
                        inBlocks(in, [&](float* b, std::uint32_t) { webRtcBlock(*apm, b); });
                    const int latency = delayOf(clean, out);
                    return Processed{std::move(out), latency};
                  }});
  rows.push_back({"SpeexDSP preprocessor: denoise -30 dB",
                  [](const std::vector<float>& in, const std::vector<float>& clean) {
                    SpeexPreprocessState* state = makeSpeex(-30, false);
                    std::vector<spx_int16_t> pcm(kBlock);
                    std::vector<float> out = inBlocks(
                        in, [&](float* b, std::uint32_t n) { speexBlock(state, pcm, b, n); });
                    speex_preprocess_state_destroy(state);
                    const int latency = delayOf(clean, out);
                    return Processed{std::move(out), latency};
                  }});
  return rows;
}

// The speech's intelligibility in `out` (delayed by `latency`) after the settling time.
double stoiAfterSettling(const std::vector<float>& clean, const std::vector<float>& out,
                         int latency) {
  const auto from = static_cast<std::size_t>(kQualitySkipSeconds * kRate);
  const std::size_t end = std::min(clean.size(), out.size() - static_cast<std::size_t>(latency));
  return stoi(std::vector<float>(clean.begin() + static_cast<std::ptrdiff_t>(from),
                                 clean.begin() + static_cast<std::ptrdiff_t>(end)),
              std::vector<float>(out.begin() + static_cast<std::ptrdiff_t>(from) + latency,
                                 out.begin() + static_cast<std::ptrdiff_t>(end) + latency),
              kRate);
}

// The desk: generated speech alone, under its own steady background (12 dB under it), under
// white noise 10 dB under it and under the desk noises; the talkers of chatter and television
// are other generated speech.
int runQuality(double seconds) {
  const SpeechSignal signal = speechLikeSignal(kRate, seconds);
  const std::vector<float>& clean = signal.speech;
  double sum = 0.0;
  std::size_t count = 0;
  for (std::size_t t = 0; t < clean.size(); ++t)
    if (!signal.inPause[t]) sum += static_cast<double>(clean[t]) * clean[t], ++count;
  const double voiceRms = std::sqrt(sum / static_cast<double>(std::max<std::size_t>(count, 1)));
  std::vector<std::pair<std::string, std::vector<float>>> conditions = {
      {"clean", clean}, {"steady 12 dB", signal.mix}};
  std::vector<float> white(clean.size());
  std::uint32_t state = 7;
  for (float& x : white) {
    state = state * 1664525u + 1013904223u;
    x = static_cast<float>(state / 4294967296.0 * 2.0 - 1.0);
  }
  conditions.emplace_back("white 10 dB", withNoise(clean, {"white", white, 10.0}, voiceRms));
  for (const DeskNoise& noise :
       deskNoises(clean.size(), kRate, speechLikeSignal(kRate, 20.0, 2).speech))
    conditions.emplace_back(noise.name + " " + fixedDb(noise.belowVoiceDb),
                            withNoise(clean, noise, voiceRms));

  struct Cell {
    double sdr, pauses, stoiValue;
  };
  std::vector<Cell> inputs;
  for (const auto& [name, mix] : conditions) {
    SpeechSignal s = signal;
    s.mix = mix;
    const QualityFigures q = measureQuality(s, mix, 0, kRate);
    inputs.push_back({q.sdrDb, q.voiceToPauseDb, stoiAfterSettling(clean, mix, 0)});
  }
  const std::vector<QualityRow> rows = qualityRows();
  std::vector<std::vector<Cell>> cells(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < conditions.size(); ++c) {
      SpeechSignal s = signal;
      s.mix = conditions[c].second;
      const Processed p = rows[r].run(s.mix, clean);
      const QualityFigures q = measureQuality(s, p.out, p.latency, kRate);
      cells[r].push_back(
          {q.sdrDb - (c == 0 ? 0.0 : inputs[c].sdr), q.voiceToPauseDb - inputs[c].pauses,
           stoiAfterSettling(clean, p.out, p.latency) - (c == 0 ? 0.0 : inputs[c].stoiValue)});
    }

  std::printf("%.0f s of generated speech at 48 kHz, measured after the first %.0f s\n", seconds,
              kQualitySkipSeconds);
  const auto table = [&](const char* title, const char* cleanColumn, double Cell::*field,
                         int decimals) {
    std::printf("\n%s\n| processing |", title);
    if (cleanColumn != nullptr) std::printf(" %s |", cleanColumn);
    for (std::size_t c = 1; c < conditions.size(); ++c)
      std::printf(" %s |", conditions[c].first.c_str());
    std::printf(" mean over the noises |\n|---|");
    for (std::size_t c = cleanColumn != nullptr ? 0 : 1; c <= conditions.size(); ++c)
      std::printf("---|");
    std::printf("\n");
    for (std::size_t r = 0; r < rows.size(); ++r) {
      std::printf("| %s |", rows[r].name.c_str());
      if (cleanColumn != nullptr) std::printf(" %.*f |", decimals, cells[r][0].*field);
      double mean = 0.0;
      for (std::size_t c = 1; c < conditions.size(); ++c) {
        std::printf(" %.*f |", decimals, cells[r][c].*field);
        mean += cells[r][c].*field / static_cast<double>(conditions.size() - 1);
      }
      std::printf(" %.*f |\n", decimals, mean);
    }
  };
  table("SDR gained (dB; clean: the output's SDR)", "clean: SDR", &Cell::sdr, 1);
  table("Voice-to-pause distance gained (dB)", nullptr, &Cell::pauses, 1);
  table("Change of STOI (clean: the output's STOI)", "clean: STOI", &Cell::stoiValue, 3);
  std::printf("\nSTOI of the unprocessed input:");
  for (std::size_t c = 1; c < conditions.size(); ++c)
    std::printf(" %s %.3f;", conditions[c].first.c_str(), inputs[c].stoiValue);
  std::printf("\n");
  return 0;
}

int run(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--quality")
    return runQuality(argc > 2 ? std::max(10.0, std::atof(argv[2])) : 60.0);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  // The quality figures skip the first seconds: a shorter signal leaves them nothing to measure.
  const double seconds = argc > 2 ? std::max(2.0 * kQualitySkipSeconds, std::atof(argv[2])) : 60.0;
  const SpeechSignal signal = speechLikeSignal(kRate, seconds);

  std::vector<Contestant> contestants = {
      {"plain-loop anchor (15 biquads/sample + 512-point complex FFT pair/128 samples)",
       [](const std::vector<float>& s) {
         PlainLoopAnchor anchor;
         anchor.prepare(kRate);
         const double ms = cpuMsPerSecond(
             s, [&](float* b, std::uint32_t n) { anchor.process(b, static_cast<int>(n)); });
         if (anchor.sink() == 12345.0f) std::printf(" ");
         return ms;
       },
       {}},
      {"WebRTC audio processing: high-pass + NS kHigh + adaptive digital AGC",
       [](const std::vector<float>& s) { return webRtcRun(true, s); },
       {}},
      {"WebRTC audio processing: high-pass + NS kHigh",
       [](const std::vector<float>& s) { return webRtcRun(false, s); },
       {}},
      {"SpeexDSP preprocessor: denoise -18 dB + AGC",
       [](const std::vector<float>& s) { return speexRun(s); },
       {}},
  };
  // Ours on each path, after the anchor: default record, suppressor only, every stage.
  const std::vector<VectorPath> paths = runnablePaths();
  const std::size_t ours = contestants.size();
  for (VectorPath path : paths) {
    const std::string suffix = std::string(" (") + vectorPathName(path) + ")";
    const std::pair<std::string, ParameterBlock> records[] = {
        {"Vorlund, default record", defaultRecord()},
        {"Vorlund, noise suppressor only", suppressorOnlyRecord()},
        {"Vorlund, every stage on", everyStageRecord(kCostliestEffectMode)}};
    for (const auto& [name, record] : records) {
      contestants.push_back(
          {name + suffix,
           [record, path](const std::vector<float>& s) { return chainRun(record, path, s); },
           {}});
    }
  }
  for (int r = 0; r < runs; ++r)
    for (Contestant& c : contestants) c.results.push_back(c.run(signal.mix));

  const double anchor = median(contestants[0].results);
  std::printf(
      "CPU time per second of 48 kHz mono audio, 10 ms blocks, %.0f s of signal, "
      "median of %d interleaved runs\n",
      seconds, runs);
  std::printf(
      "| what | ms per second of audio | range | ratio to the plain-loop anchor |\n"
      "|---|---|---|---|\n");
  for (const Contestant& c : contestants) {
    const auto [lo, hi] = std::minmax_element(c.results.begin(), c.results.end());
    std::printf("| %s | %.3f | %.3f .. %.3f | %.3f |\n", c.name.c_str(), median(c.results), *lo,
                *hi, median(c.results) / anchor);
  }

  const double webRtcFull = median(contestants[1].results);
  const double webRtcNs = median(contestants[2].results);
  const double speex = median(contestants[3].results);
  std::printf("\nOurs against the peers, same run\n| ours | peer | ours / peer |\n|---|---|---|\n");
  for (std::size_t p = 0; p < paths.size(); ++p) {
    const std::size_t first = ours + 3 * p;
    const double full = median(contestants[first].results);
    const double nsOnly = median(contestants[first + 1].results);
    const double every = median(contestants[first + 2].results);
    const char* name = vectorPathName(paths[p]);
    std::printf("| default record, %s | WebRTC high-pass + NS kHigh + AGC | %.3f |\n", name,
                full / webRtcFull);
    std::printf("| noise suppressor only, %s | WebRTC high-pass + NS kHigh | %.3f |\n", name,
                nsOnly / webRtcNs);
    std::printf("| every stage on, %s | WebRTC high-pass + NS kHigh + AGC | %.3f |\n", name,
                every / webRtcFull);
    std::printf("| default record, %s | SpeexDSP denoise + AGC | %.3f |\n", name, full / speex);
  }

  const SpeechSignal high = speechLikeSignal(384000.0, std::min(seconds, 5.0));
  for (VectorPath path : paths) {
    std::printf(
        "\nEvery stage on, 384 kHz, 64 channels through the block frame, %s: %.1f x faster "
        "than real time\n",
        vectorPathName(path), realTimeFactor384(high.mix, path));
  }

  printQuality(signal);
  printMemory();
  return 0;
}

}  // namespace
}  // namespace vorlund::bench

int main(int argc, char** argv) {
  return vorlund::bench::run(argc, argv);
}
