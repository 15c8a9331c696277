// vorlund-process: runs a recording through the effect library as the audio engine would and
// prints what it did. 'vorlund-process --help' tells the options and exit codes.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "apo_host.h"
#include "channel/parameter_channel.h"
#include "common/loudness_meter.h"
#include "common/preset_library.h"
#include "common/record_file.h"
#include "common/record_text.h"
#include "engine/shared_block.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/file_mapping.h"
#include "platform/process.h"
#include "platform/system.h"
#include "process_error.h"
#include "process_options.h"
#include "sound_file.h"

namespace vorlund {
namespace {

namespace fs = std::filesystem;

constexpr double kHundredNanosecondsPerSecond = 1e7;
// Files shorter than this finish before a progress bar would help.
constexpr double kProgressMinSeconds = 5.0;

void warn(const std::string& message) {
  std::cout.flush();
  std::cerr << "vorlund-process: warning: " << message << "\n";
}

fs::path programFolder() {
  return toFilesystemPath(executablePath().parent());
}

// --library, else beside this program, else where the build tree put it.
fs::path libraryPath(const ProcessOptions& options) {
  if (options.library) return pathFromUtf8(*options.library);
  const fs::path beside = programFolder() / VORLUND_APO_FILE_NAME;
  std::error_code error;
  if (fs::exists(beside, error)) return beside;
  const fs::path built = pathFromUtf8(VORLUND_APO_BUILD_PATH);
  return fs::exists(built, error) ? built : beside;
}

fs::path presetsFolder(const ProcessOptions& options) {
  if (options.presetsDir) return pathFromUtf8(*options.presetsDir);
  const fs::path beside = programFolder() / "presets";
  std::error_code error;
  return fs::is_directory(beside, error) ? beside : pathFromUtf8(VORLUND_SOURCE_PRESETS);
}

// The container goes by the input (or --format), not by OUT's name; say so when they differ.
void warnOnMismatchedExtension(const std::string& output, int format) {
  const struct {
    const char* extension;
    int major;
  } known[] = {{".wav", SF_FORMAT_WAV}, {".flac", SF_FORMAT_FLAC}, {".ogg", SF_FORMAT_OGG}};
  const std::string extension = pathFromUtf8(output).extension().string();
  for (const auto& entry : known)
    if (extension == entry.extension && entry.major != (format & SF_FORMAT_TYPEMASK))
      warn(output + " is written as " + SoundFile::describe(format) +
           ", the input's format; --format chooses another");
}

void takeReport(const RecordReport& report) {
  for (const std::string& warning : report.warnings) warn(warning);
  if (report.ok()) return;
  std::string message = "bad record:";
  for (const std::string& error : report.errors) message += "\n  " + error;
  throw ProcessError(ProcessExit::badRecord, message);
}

// The record the options describe, and a few words on where it came from.
ParameterBlock buildRecord(const ProcessOptions& options, std::string& origin) {
  ParameterBlock record;
  setDefaults(record);
  origin = "defaults";
  if (options.paramsFile && options.preset)
    throw ProcessError(ProcessExit::usage, "give --params or --preset, not both");
  if (options.paramsFile) {
    takeReport(readRecordFile(pathFromUtf8(*options.paramsFile), record));
    origin = "file " + *options.paramsFile;
  }
  if (options.preset) {
    takeReport(loadPreset(presetsFolder(options), *options.preset, record));
    origin = "preset " + *options.preset;
  }
  if (!options.settings.empty()) {
    takeReport(applyRecordSettings(options.settings, record));
    origin += " + " + std::to_string(options.settings.size()) + " setting(s)";
  }
  return record;
}

// SIGINT or SIGTERM seen; the block loop stops at the next block and the run unwinds, which
// removes the unfinished output and the private data folder, then dies of the same signal.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void noteStopSignal(int signal) {
  stopSignal = signal;
}

struct Interrupted {
  int signal;
};

constexpr const char* kPrivateFolderPrefix = "vorlund-process-";

// Private folders of runs that were killed before they could remove theirs: the process id
// after the prefix names a process that is gone. Real folders only, never through a link.
void removeStaleFolders(const fs::path& base) {
  std::error_code error;
  const std::string prefix = kPrivateFolderPrefix;
  for (const fs::directory_entry& entry : fs::directory_iterator(base, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || !entry.is_directory(error) || entry.is_symlink(error))
      continue;
    const std::string id =
        name.substr(prefix.size(), name.find('-', prefix.size()) - prefix.size());
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos || id.size() > 10)
      continue;
    const auto pid = std::stoull(id);
    if (pid != currentProcessId() && !processIsRunning(static_cast<std::uint32_t>(pid)))
      fs::remove_all(entry.path(), error);
  }
}

// A ProgramData of this run's own, made the process's %ProgramData% so that the library's
// data folder lies inside it and no running effect or other run shares it. Removed at exit.
class PrivateDataFolder {
 public:
  PrivateDataFolder() {
    const fs::path base = fs::temp_directory_path();
    removeStaleFolders(base);
    for (int attempt = 0;; ++attempt) {
      root_ = base / (kPrivateFolderPrefix + std::to_string(currentProcessId()) + "-" +
                      std::to_string(tickCount64()) + "-" + std::to_string(attempt));
      std::error_code error;
      if (fs::create_directory(root_, error)) break;
      if (attempt > 100)
        throw ProcessError(ProcessExit::inputFile,
                           "cannot make a temporary folder in " + displayPath(base));
    }
    fs::create_directory(root_ / "Vorlund");
    if (!setEnvironmentVariable("ProgramData", root_.string().c_str()))
      throw ProcessError(ProcessExit::inputFile, "cannot set ProgramData");
  }
  ~PrivateDataFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  PrivateDataFolder(const PrivateDataFolder&) = delete;
  PrivateDataFolder& operator=(const PrivateDataFolder&) = delete;

  fs::path dataFolder() const { return root_ / "Vorlund"; }

 private:
  fs::path root_;
};

// The output is written under a temporary name in OUT's own folder and takes OUT's name only
// once complete, so a failure, a full disk or a signal never leaves a partial file, nor
// replaces an existing one with it. Refuses an OUT that is IN under another name.
class TemporaryOutput {
 public:
  TemporaryOutput(const std::string& input, const std::string& output)
      : final_(pathFromUtf8(output)) {
    std::error_code error;
    if (fs::equivalent(pathFromUtf8(input), final_, error))
      throw ProcessError(ProcessExit::usage,
                         "the output " + output + " is the input file itself; give another OUT");
    path_ = final_.parent_path() / ("." + final_.filename().string() + ".vorlund-" +
                                    std::to_string(currentProcessId()) + ".tmp");
  }
  ~TemporaryOutput() {
    std::error_code ignored;
    if (!committed_) fs::remove(path_, ignored);
  }
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;

  std::string path() const { return path_.string(); }
  // After the sound file is closed: the finished file replaces OUT.
  void commit() {
    std::error_code error;
    fs::rename(path_, final_, error);
    if (error)
      throw ProcessError(ProcessExit::inputFile,
                         "cannot write " + displayPath(final_) + ": " + error.message());
    committed_ = true;
  }

 private:
  fs::path final_;
  fs::path path_;
  bool committed_ = false;
};

// The control application's view of shared.bin: the meters the effect publishes.
class MeterTap {
 public:
  bool open() {
    return file_.open(sharedFilePath(), FileAccess::readWriteExisting) == 0 &&
           mapping_.create(file_, ParameterChannel::kSharedFileBytes) == 0 &&
           mapping_.mapView(sizeof(SharedBlock)) == 0;
  }
  SharedBlock* block() const { return static_cast<SharedBlock*>(mapping_.view()); }

 private:
  File file_;
  FileMapping mapping_;
};

struct Meter {
  const char* label;
  float SharedBlock::*field;
};

// The meters whose ranges the summary shows and the CSV columns after the time.
constexpr Meter kMeters[] = {
    {"inputPeakDb", &SharedBlock::inputPeakDb},
    {"inputRmsDb", &SharedBlock::inputRmsDb},
    {"outputPeakDb", &SharedBlock::outputPeakDb},
    {"outputRmsDb", &SharedBlock::outputRmsDb},
    {"noiseSuppressionDb", &SharedBlock::noiseSuppressionDb},
    {"gateGainDb", &SharedBlock::gateGainDb},
    {"compressorReductionDb", &SharedBlock::compressorReductionDb},
    {"limiterGainDb", &SharedBlock::limiterGainDb},
    {"agcGainDb", &SharedBlock::agcGainDb},
    {"deEsserGainDb", &SharedBlock::deEsserGainDb},
    {"plosiveGainDb", &SharedBlock::plosiveGainDb},
    {"inputBackgroundDb", &SharedBlock::inputBackgroundDb},
    {"processingLoad", &SharedBlock::processingLoad},
};
constexpr std::size_t kMeterCount = std::size(kMeters);
// The gain meters the summary names (indices into kMeters) and their words.
struct RangeLine {
  std::size_t meter;
  const char* words;
};
constexpr RangeLine kRangeLines[] = {
    {4, "noise suppression"}, {5, "gate"},     {6, "compression"},
    {7, "limiting"},          {8, "AGC gain"}, {9, "de-esser"},
};

struct MeterRanges {
  float low[kMeterCount];
  float high[kMeterCount];
  bool seen = false;

  void add(const float (&values)[kMeterCount]) {
    for (std::size_t i = 0; i < kMeterCount; ++i) {
      low[i] = seen ? std::min(low[i], values[i]) : values[i];
      high[i] = seen ? std::max(high[i], values[i]) : values[i];
    }
    seen = true;
  }
};

void readMeters(SharedBlock& block, float (&values)[kMeterCount]) {
  for (std::size_t i = 0; i < kMeterCount; ++i)
    values[i] = sharedWord(block.*kMeters[i].field).load();
}

// Peak, RMS and loudness of one side of the run.
struct SignalStats {
  SignalStats(double sampleRate, int channels) : loudness(sampleRate, channels) {}
  void add(const float* interleaved, std::size_t frames, int channels) {
    for (std::size_t i = 0; i < frames * static_cast<std::size_t>(channels); ++i) {
      const double x = interleaved[i];
      peak = std::max(peak, std::fabs(x));
      sumSquares += x * x;
    }
    samples += frames * static_cast<std::size_t>(channels);
    loudness.add(interleaved, frames);
  }
  double rms() const { return samples == 0 ? 0.0 : std::sqrt(sumSquares / double(samples)); }

  double peak = 0.0;
  double sumSquares = 0.0;
  std::size_t samples = 0;
  LoudnessMeter loudness;
};

std::string fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string decibels(double amplitude) {
  return amplitude > 0.0 ? fixed(20.0 * std::log10(amplitude), 1) + " dBFS" : "-inf dBFS";
}

std::string lufsText(double lufs) {
  return lufs == LoudnessMeter::kNoLoudness ? "(too quiet or short)" : fixed(lufs, 1) + " LUFS";
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

class ProgressBar {
 public:
  ProgressBar(bool shown, std::size_t total) : shown_(shown && total > 0), total_(total) {}
  void update(std::size_t done) {
    if (!shown_) return;
    constexpr int kWidth = 40;
    const int percent = static_cast<int>(100.0 * std::min(done, total_) / double(total_));
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    const int filled = percent * kWidth / 100;
    std::cout << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] "
              << percent << "%" << std::flush;
  }
  void finish() {
    if (shown_) std::cout << "\r" << std::string(48, ' ') << "\r" << std::flush;
  }

 private:
  bool shown_;
  std::size_t total_;
  int lastPercent_ = -1;
};

int run(const ProcessOptions& options) {
  std::string origin;
  const ParameterBlock record = buildRecord(options, origin);
  SoundFile input = SoundFile::openForReading(options.input);
  const SF_INFO info = input.info();
  int outputFormat = info.format;
  if (options.format) {
    outputFormat = SoundFile::formatByName(*options.format);
    if (outputFormat == 0)
      throw ProcessError(ProcessExit::usage,
                         "--format: unknown format '" + *options.format +
                             "' (wav16, wav24, wav32, wavf, flac16, flac24, ogg)");
  }

  warnOnMismatchedExtension(options.output, outputFormat);

  PrivateDataFolder data;
  takeReport(writeRecordFile(data.dataFolder() / "params.bin", record, RecordFileFormat::Binary));

  ApoHost host(Path::fromUtf8(displayPath(libraryPath(options))));
  const double rate = info.samplerate;
  const int channels = info.channels;
  const auto blockFrames = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::lround(rate * options.blockMs / 1000.0)));
  // libsndfile allows more channels than the effect; the effect's refusal names its range.
  host.lock(static_cast<UINT32>(std::max(channels, 1)), static_cast<float>(rate),
            static_cast<UINT32>(blockFrames));
  const HNSTIME latency = host.latency();
  const auto latencyFrames = static_cast<std::size_t>(
      std::llround(static_cast<double>(latency) * rate / kHundredNanosecondsPerSecond));

  MeterTap tap;
  const bool haveMeters = tap.open();
  std::ofstream metersCsv;
  if (options.metersFile) {
    if (!haveMeters) warn("the effect publishes no meters (no shared.bin); --meters is left empty");
    metersCsv.open(pathFromUtf8(*options.metersFile), std::ios::trunc);
    if (!metersCsv)
      throw ProcessError(ProcessExit::inputFile, "cannot write " + *options.metersFile);
    metersCsv << "timeSeconds";
    for (const Meter& meter : kMeters) metersCsv << "," << meter.label;
    metersCsv << "\n";
  }
  const auto meterFrames = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::lround(rate * options.metersIntervalMs / 1000.0)));

  TemporaryOutput temporary(options.input, options.output);
  SoundFile output =
      SoundFile::openForWriting(temporary.path(), outputFormat, channels, info.samplerate);
  SignalStats inStats(rate, channels), outStats(rate, channels);
  MeterRanges ranges;
  std::vector<float> buffer(blockFrames * static_cast<std::size_t>(channels));
  const std::size_t channelCount = static_cast<std::size_t>(channels);
  std::size_t skip = options.align ? latencyFrames : 0;
  std::size_t framesIn = 0, framesOut = 0, framesProcessed = 0, nextMeterRow = meterFrames;
  bool inputDone = false;
  double cpuSeconds = 0.0;
  ProgressBar progress(!options.quiet && standardOutputIsTerminal() &&
                           info.frames > static_cast<sf_count_t>(kProgressMinSeconds * rate),
                       static_cast<std::size_t>(std::max<sf_count_t>(info.frames, 0)));

  while (true) {
    if (stopSignal != 0) throw Interrupted{stopSignal};
    std::size_t frames = 0;
    if (!inputDone) {
      frames = input.read(buffer.data(), blockFrames);
      if (frames < blockFrames) inputDone = true;
      inStats.add(buffer.data(), frames, channels);
      framesIn += frames;
    }
    if (frames == 0) {
      // Past the end, --align feeds silence until the delayed tail is out.
      if (framesOut >= framesIn) break;
      frames = blockFrames;
      std::fill(buffer.begin(), buffer.end(), 0.0f);
    }
    const std::clock_t start = std::clock();
    host.process(buffer.data(), static_cast<UINT32>(frames));
    cpuSeconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    framesProcessed += frames;

    if (haveMeters) {
      float values[kMeterCount];
      readMeters(*tap.block(), values);
      ranges.add(values);
      if (metersCsv.is_open() && framesProcessed >= nextMeterRow) {
        nextMeterRow += meterFrames;
        metersCsv << fixed(framesProcessed / rate, 3);
        for (float value : values) metersCsv << "," << value;
        metersCsv << "\n";
      }
    }

    const std::size_t skipped = std::min(skip, frames);
    skip -= skipped;
    const std::size_t keep = std::min(frames - skipped, framesIn - framesOut);
    const float* kept = buffer.data() + skipped * channelCount;
    output.write(kept, keep);
    outStats.add(kept, keep, channels);
    framesOut += keep;
    progress.update(framesIn);
  }
  progress.finish();
  host.unlock();
  output.close();
  temporary.commit();
  if (metersCsv.is_open() && !metersCsv.flush())
    throw ProcessError(ProcessExit::inputFile, "cannot write " + *options.metersFile);
  if (options.quiet) return 0;

  const double seconds = framesIn / rate;
  std::cout << "vorlund-process: " << options.input << " -> " << options.output << "\n"
            << "  input         " << SoundFile::describe(info.format) << ", " << channels << " ch, "
            << info.samplerate << " Hz, " << fixed(seconds, 2) << " s\n"
            << "  output        " << SoundFile::describe(outputFormat) << "\n"
            << "  record        " << origin << "\n"
            << "                " << padded("input", 22) << "output\n"
            << "  peak          " << padded(decibels(inStats.peak), 22) << decibels(outStats.peak)
            << "\n"
            << "  RMS           " << padded(decibels(inStats.rms()), 22) << decibels(outStats.rms())
            << "\n"
            << "  loudness      " << padded(lufsText(inStats.loudness.integratedLufs()), 22)
            << lufsText(outStats.loudness.integratedLufs()) << "\n"
            << "  latency       " << latencyFrames << " samples ("
            << fixed(latencyFrames * 1000.0 / rate, 2) << " ms)"
            << (options.align ? ", removed by --align" : "") << "\n"
            << "  CPU time      " << fixed(cpuSeconds, 3) << " s";
  if (cpuSeconds > 0.0) std::cout << ", " << fixed(seconds / cpuSeconds, 0) << "x real time";
  std::cout << "\n";
  if (ranges.seen) {
    std::cout << "  meter ranges (dB, lowest .. highest over the blocks)\n";
    for (const RangeLine& line : kRangeLines)
      std::cout << "    " << padded(line.words, 20) << fixed(ranges.low[line.meter], 1) << " .. "
                << fixed(ranges.high[line.meter], 1) << "\n";
  }
  return 0;
}

}  // namespace
}  // namespace vorlund

int main(int argc, char** argv) {
  using namespace vorlund;
  std::signal(SIGINT, noteStopSignal);
  std::signal(SIGTERM, noteStopSignal);
  try {
    const ProcessOptions options = parseProcessOptions(commandLineArguments(argc, argv));
    if (options.help) {
      std::cout << processUsage();
      return 0;
    }
    return run(options);
  } catch (const Interrupted& interrupted) {
    // Everything is cleaned up by now: end as the signal would have ended the program.
    std::signal(interrupted.signal, SIG_DFL);
    std::raise(interrupted.signal);
    return 128 + interrupted.signal;
  } catch (const ProcessError& error) {
    std::cout.flush();
    std::cerr << "vorlund-process: " << error.what() << "\n";
    return static_cast<int>(error.code());
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "vorlund-process: " << error.what() << "\n";
    return static_cast<int>(ProcessExit::apoFailure);
  }
}
