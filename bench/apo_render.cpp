// The built library driven as the audio engine drives it (loaded from its file, one mono
// 48 kHz float stream in 10 ms blocks), on the same speech in every build: the DLL under Wine
// and the .so natively must give the same bits, and their costs are compared side by side.
//
//   vorlund-apo-render decode <speech.flac> <seconds> <input.f32>     (native builds only)
//   vorlund-apo-render render <library> <input.f32> <output-prefix>
//       writes <output-prefix><record>.f32 for every record of kRecords
//   vorlund-apo-render time <library> <seconds> <rounds>
//       prints, per record, the ms per second of audio that the processing calls take: each
//       block's shortest wall time over the rounds, summed. Thread CPU clocks tick in 10 ms
//       under Wine, too coarse for 10 ms blocks; the shortest of several timings of the same
//       block is what it costs when nothing else interrupts it, on a busy machine too.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "apo_host.h"
#include "bench_support.h"
#include "chain/vector_path.h"
#include "common/record_file.h"
#include "engine/forced_vector_path.h"
#include "platform/environment.h"
#include "platform/system.h"
#include "process_error.h"

#ifdef VORLUND_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace vorlund::bench {
namespace {

namespace fs = std::filesystem;

constexpr float kRate = 48000.0f;
constexpr UINT32 kBlock = 480;

struct NamedRecord {
  const char* name;
  ParameterBlock record;
};

// The factory record, every stage on (with the costliest effect), and the effects that run
// on other functions (ring modulator and pitch shift: sin; narrow saturation: tanh).
std::vector<NamedRecord> records() {
  return {{"factory", defaultRecord()},
          {"every-stage", everyStageRecord(kCostliestEffectMode)},
          {"ring-modulator", effectRecord(1)},
          {"narrow-saturation", effectRecord(3)},
          {"pitch-shift", effectRecord(4)}};
}

// What `render` writes: the timed records, and besides them noise suppression alone and every
// stage on with each voice effect mode, the outputs on which the builds and the vector paths
// must agree.
std::vector<NamedRecord> identityRecords() {
  static const char* const kModeNames[] = {
      "every-stage-off",   "every-stage-robot", "every-stage-radio", "every-stage-telephone",
      "every-stage-pitch", "every-stage-echo",  "every-stage-reverb"};
  static_assert(std::size(kModeNames) == static_cast<std::size_t>(kLastVoiceEffectMode) + 1);
  std::vector<NamedRecord> named = records();
  named.push_back({"suppressor-only", suppressorOnlyRecord()});
  for (int mode = 0; mode < static_cast<int>(std::size(kModeNames)); ++mode) {
    if (mode == kCostliestEffectMode) continue;  // the every-stage record above
    named.push_back({kModeNames[mode], everyStageRecord(mode)});
  }
  return named;
}

// A ProgramData of the run's own holding the record, made the process's %ProgramData%.
class RecordFolder {
 public:
  explicit RecordFolder(const ParameterBlock& record) {
    root_ = fs::temp_directory_path() / ("vorlund-render-" + std::to_string(currentProcessId()) +
                                         "-" + std::to_string(tickCount64()));
    fs::create_directories(root_ / "Vorlund");
    writeRecordFile(root_ / "Vorlund" / "params.bin", record, RecordFileFormat::Binary);
    setEnvironmentVariable("ProgramData", root_.string().c_str());
  }
  ~RecordFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  RecordFolder(const RecordFolder&) = delete;
  RecordFolder& operator=(const RecordFolder&) = delete;

 private:
  fs::path root_;
};

// `signal` through a fresh instance of the library with `record`, in place; lowers each
// entry of `shortest` (seconds, one per block) to that block's wall time when shorter.
void runThrough(const std::string& library, const ParameterBlock& record,
                std::vector<float>& signal, std::vector<double>* shortest = nullptr) {
  using Clock = std::chrono::steady_clock;
  RecordFolder folder(record);
  ApoHost host(Path::fromUtf8(library));
  host.lock(1, kRate, kBlock);
  for (std::size_t start = 0, block = 0; start < signal.size(); start += kBlock, ++block) {
    const auto frames = static_cast<UINT32>(std::min<std::size_t>(kBlock, signal.size() - start));
    const Clock::time_point before = Clock::now();
    host.process(signal.data() + start, frames);
    const std::chrono::duration<double> took = Clock::now() - before;
    if (shortest) (*shortest)[block] = std::min((*shortest)[block], took.count());
  }
  host.unlock();
}

std::vector<float> readFloats(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(samples.size() * 4),
            reinterpret_cast<char*>(samples.data()));
  return samples;
}

void writeFloats(const std::string& path, const std::vector<float>& samples) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * sizeof(float)));
  if (!out) throw ProcessError(ExitCode::inputFile, "cannot write " + path);
}

#ifdef VORLUND_HAVE_SNDFILE
// The recording's first channel, repeated from its start until `seconds` are filled.
int decode(const std::string& path, double seconds, const std::string& output) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file || info.samplerate != static_cast<int>(kRate))
    throw ProcessError(ExitCode::inputFile, path + ": no 48 kHz recording");
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  std::vector<float> samples(static_cast<std::size_t>(seconds * kRate));
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = frames[(i % static_cast<std::size_t>(info.frames)) * info.channels];
  writeFloats(output, samples);
  return 0;
}
#endif

int render(const std::string& library, const std::string& input, const std::string& prefix) {
  const std::vector<float> speech = readFloats(input);
  if (speech.empty()) throw ProcessError(ExitCode::inputFile, "no samples in " + input);
  // The library decides the same way in this process.
  std::printf("vector path %s\n", vectorPathName(chosenVectorPath()));
  for (const NamedRecord& r : identityRecords()) {
    std::vector<float> signal = speech;
    runThrough(library, r.record, signal);
    writeFloats(prefix + r.name + ".f32", signal);
  }
  return 0;
}

int time(const std::string& library, double seconds, int rounds) {
  const std::vector<float> mix = speechLikeSignal(kRate, seconds).mix;
  const std::vector<NamedRecord> named = records();
  const std::size_t blocks = (mix.size() + kBlock - 1) / kBlock;
  std::vector<std::vector<double>> shortest(named.size(), std::vector<double>(blocks, 1e9));
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < named.size(); ++i) {
      std::vector<float> signal = mix;
      runThrough(library, named[i].record, signal, &shortest[i]);
    }
  }
  for (std::size_t i = 0; i < named.size(); ++i) {
    double total = 0.0;
    for (double t : shortest[i]) total += t;
    std::printf("%s %.4f\n", named[i].name, 1000.0 * total / seconds);
  }
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: vorlund-apo-render render <library> <input.f32> <output-prefix>\n"
               "       vorlund-apo-render time <library> <seconds> <rounds>\n"
               "       vorlund-apo-render decode <speech.flac> <seconds> <input.f32>\n");
  return 1;
}

}  // namespace
}  // namespace vorlund::bench

int main(int argc, char** argv) {
  using namespace vorlund::bench;
  if (argc != 5) return usage();
  vorlund::applyForcedVectorPath();
  const std::string command = argv[1];
  try {
    if (command == "render") return render(argv[2], argv[3], argv[4]);
    if (command == "time") return time(argv[2], std::atof(argv[3]), std::atoi(argv[4]));
#ifdef VORLUND_HAVE_SNDFILE
    if (command == "decode") return decode(argv[2], std::atof(argv[3]), argv[4]);
#endif
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vorlund-apo-render: %s\n", e.what());
    return 2;
  }
  return usage();
}
