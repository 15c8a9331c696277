// vorlund-process: runs a recording through the effect library as the audio engine would and
// prints what it did. 'vorlund-process --help' tells the options and exit codes.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "apo_host.h"
#include "chain/vector_path.h"
#include "channel/parameter_channel.h"
#include "common/number_text.h"
#include "common/preset_library.h"
#include "common/record_file.h"
#include "common/record_text.h"
#include "common/shared_file.h"
#include "common/stream_state.h"
#include "common/system_error_text.h"
#include "common/tool_main.h"
#include "engine/forced_vector_path.h"
#include "engine/meter_table.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/replacing_file.h"
#include "platform/system.h"
#include "process_error.h"
#include "process_options.h"
#include "progress_bar.h"
#include "run_report.h"
#include "run_summary.h"
#include "sound_file.h"

namespace vorlund {
namespace {

namespace fs = std::filesystem;

constexpr double kHundredNanosecondsPerSecond = 1e7;
// Files shorter than this finish before a progress bar would help.
constexpr double kProgressMinSeconds = 5.0;
// The spectrograms' width in columns, whatever the length.
constexpr std::size_t kSpectrogramColumns = 1000;

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

// A --format that contradicts OUT's extension is followed; say so.
void warnOnMismatchedExtension(const ProcessOptions& options, int format, const SF_INFO& input) {
  if (!options.format) return;
  try {
    const int byName = SoundFile::chooseOutputFormat(nullptr, options.output, input.format,
                                                     input.channels, input.samplerate);
    if ((byName & SF_FORMAT_TYPEMASK) != (format & SF_FORMAT_TYPEMASK))
      warn(options.output + " is written as " + SoundFile::describe(format) +
           ", as --format says, whatever its name");
  } catch (const ProcessError&) {
  }
}

void takeReport(const RecordReport& report) {
  for (const std::string& warning : report.warnings) warn(warning);
  if (report.ok()) return;
  std::string message = "bad record:";
  for (const std::string& error : report.errors) message += "\n  " + error;
  throw ProcessError(ExitCode::badRecord, message);
}

// The record the options describe, and a few words on where it came from.
ParameterBlock buildRecord(const ProcessOptions& options, std::string& origin) {
  ParameterBlock record;
  setDefaults(record);
  origin = "defaults";
  if (options.paramsFile && options.preset)
    throw ProcessError(ExitCode::usage, "give --params or --preset, not both");
  if (options.paramsFile) {
    takeReport(readRecordFile(pathFromUtf8(*options.paramsFile), record));
    origin = "file " + *options.paramsFile;
  }
  if (options.preset) {
    takeReport(toolPresets(options.presetsDir).load(*options.preset, record));
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
// data folder lies inside it and no running effect or other run shares it, with the run's
// record as its params.bin. Removed at exit.
class PrivateDataFolder {
 public:
  explicit PrivateDataFolder(const ParameterBlock& record) {
    const fs::path base = fs::temp_directory_path();
    removeStaleFolders(base);
    for (int attempt = 0;; ++attempt) {
      root_ = base / (kPrivateFolderPrefix + std::to_string(currentProcessId()) + "-" +
                      std::to_string(tickCount64()) + "-" + std::to_string(attempt));
      std::error_code error;
      if (fs::create_directory(root_, error)) break;
      if (attempt > 100)
        throw ProcessError(ExitCode::inputFile,
                           "cannot make a temporary folder in " + displayPath(base));
    }
    fs::create_directory(root_ / "Vorlund");
    if (!setEnvironmentVariable("ProgramData", root_.string().c_str()))
      throw ProcessError(ExitCode::inputFile, "cannot set ProgramData");
    takeReport(writeRecordFile(root_ / "Vorlund" / "params.bin", record, RecordFileFormat::Binary));
  }
  ~PrivateDataFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  PrivateDataFolder(const PrivateDataFolder&) = delete;
  PrivateDataFolder& operator=(const PrivateDataFolder&) = delete;

 private:
  fs::path root_;
};

// Every file a run writes (OUT, --meters, --report, --spectrograms) is another file than IN
// and than each other, by identity: a link or another name for the same file counts as the
// same. Checked before anything is opened, so a refusal leaves every file as it was.
void refuseSameFiles(const ProcessOptions& options) {
  struct Named {
    const char* role;
    std::string path;
  };
  std::vector<Named> files{{"the input", options.input}, {"the output", options.output}};
  if (options.metersFile) files.push_back({"--meters", *options.metersFile});
  if (options.reportFile) files.push_back({"--report", *options.reportFile});
  if (options.spectrogramsFile) files.push_back({"--spectrograms", *options.spectrogramsFile});
  const auto same = [](const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    // Files yet to be made: the same name once the links of their folders are followed.
    const fs::path left = fs::weakly_canonical(a, error);
    if (error) return false;
    const fs::path right = fs::weakly_canonical(b, error);
    return !error && left == right;
  };
  for (std::size_t i = 1; i < files.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (same(pathFromUtf8(files[j].path), pathFromUtf8(files[i].path)))
        throw ProcessError(ExitCode::usage, std::string(files[i].role) + " " + files[i].path +
                                                " is " + files[j].role + " file itself (" +
                                                files[j].path + "); give another name");
}

// The output is written through a ReplacingFile in OUT's own folder and takes OUT's name only
// once complete and on disk, so a failure, a full disk or a signal never leaves a partial
// file, nor replaces an existing one with it.
class TemporaryOutput {
 public:
  explicit TemporaryOutput(const std::string& output) : name_(output) {
    if (const DWORD error = file_.create(pathFromUtf8(output)); error != ERROR_SUCCESS)
      throw ProcessError(ExitCode::inputFile, "cannot write " + output +
                                                  ": cannot create a temporary file beside it: " +
                                                  systemErrorText(error));
  }

  int descriptor() const noexcept { return file_.handle(); }
  // After the sound file is closed: the finished file replaces OUT.
  void commit() {
    if (const DWORD error = file_.commit(); error != ERROR_SUCCESS)
      throw ProcessError(ExitCode::inputFile,
                         "cannot write " + name_ + ": " + systemErrorText(error));
  }

 private:
  std::string name_;
  ReplacingFile file_;
};

// The meters CSV: a row of every published meter, voice activity and bypass once per interval.
class MeterLog {
 public:
  MeterLog(const ProcessOptions& options, double rate)
      : keepSamples_(options.reportFile.has_value()),
        intervalFrames_(std::max<std::size_t>(
            1, static_cast<std::size_t>(std::lround(rate * options.metersIntervalMs / 1000.0)))),
        nextRow_(intervalFrames_) {
    if (!options.metersFile) return;
    path_ = *options.metersFile;
    csv_ = "timeSeconds";
    for (const MeterField& meter : kMeterFields) csv_.append(",").append(meter.key);
    csv_ += ",voiceActive,bypassActive\n";
  }

  bool wanted() const { return !path_.empty() || keepSamples_; }
  const std::vector<MeterSample>& samples() const { return samples_; }

  // After each block: a row when the interval is up (kept for the report when it wants them).
  void afterBlock(std::size_t framesProcessed, double rate, const StreamReading& reading) {
    if (framesProcessed < nextRow_) return;
    nextRow_ += intervalFrames_;
    if (keepSamples_) samples_.push_back({framesProcessed / rate, reading});
    if (path_.empty()) return;
    csv_ += fixedText(framesProcessed / rate, 3);
    for (std::size_t i = 0; i < kMeterFields.size(); ++i)
      csv_.append(",").append(
          fixedText(reading.meters[i], kMeterFields[i].scale == MeterScale::load ? 4 : 2));
    csv_.append(reading.voiceActive ? ",1" : ",0").append(reading.bypassActive ? ",1\n" : ",0\n");
  }

  // The whole table at once, in place of whatever the file held.
  void finish() {
    if (path_.empty()) return;
    if (const DWORD error = replaceFileContent(pathFromUtf8(path_), csv_); error != ERROR_SUCCESS)
      throw ProcessError(ExitCode::inputFile,
                         "cannot write " + path_ + ": " + systemErrorText(error));
  }

 private:
  bool keepSamples_;
  std::vector<MeterSample> samples_;
  std::size_t intervalFrames_;
  std::size_t nextRow_;
  std::string path_;
  std::string csv_;
};

int chooseOutputFormat(const ProcessOptions& options, const SF_INFO& input) {
  return SoundFile::chooseOutputFormat(options.format ? &*options.format : nullptr, options.output,
                                       input.format, input.channels, input.samplerate);
}

// Everything a run sets up before its first block, in the order it is done: the record, the
// input, the effect with the record in a private data folder, the meters, the output.
class ProcessRun {
 public:
  explicit ProcessRun(const ProcessOptions& options)
      : options_(options),
        record_(buildRecord(options, origin_)),
        input_(SoundFile::openForReading(options.input)),
        info_(input_.info()),
        outputFormat_(chooseOutputFormat(options, info_)),
        temporary_(options.output),
        data_(record_),
        host_(Path::fromUtf8(displayPath(libraryPath(options)))),
        rate_(info_.samplerate),
        channels_(info_.channels),
        blockFrames_(std::max<std::size_t>(
            1, static_cast<std::size_t>(std::lround(rate_ * options.blockMs / 1000.0)))),
        log_(options, rate_),
        output_(openOutput()) {}

  // The blocks, from the first to the tail that --align lets out.
  void processBlocks();
  // Clipping and a cut-off file: faults of the input the output inherits.
  void warnAboutInput() const;
  // The summary of what was done.
  std::string summary() const;
  // --report and --spectrograms.
  void writeReports(const std::string& summary) const;

 private:
  SoundFile openOutput();

  const ProcessOptions& options_;
  std::string origin_;
  ParameterBlock record_;
  SoundFile input_;
  SF_INFO info_;
  int outputFormat_;
  TemporaryOutput temporary_;
  PrivateDataFolder data_;
  ApoHost host_;
  double rate_;
  int channels_;
  std::size_t blockFrames_;
  std::size_t latencyFrames_ = 0;
  SharedFile meters_;
  MeterLog log_;
  SoundFile output_;

  // What the blocks measured.
  SignalStats inStats_{rate_, channels_};
  SignalStats outStats_{rate_, channels_};
  FrameFigures inFigures_{rate_, channels_, humLines(record_.humBaseHz)};
  FrameFigures outFigures_{rate_, channels_, humLines(record_.humBaseHz)};
  MeterRanges ranges_;
  std::unique_ptr<Spectrogram> inPicture_;
  std::unique_ptr<Spectrogram> outPicture_;
  std::size_t framesIn_ = 0;
  double cpuSeconds_ = 0.0;
};

// Locks the effect to the file's format, opens the meters, then the output.
SoundFile ProcessRun::openOutput() {
  warnOnMismatchedExtension(options_, outputFormat_, info_);
  // libsndfile allows more channels than the effect; the effect's refusal names its range.
  host_.lock(static_cast<UINT32>(std::max(channels_, 1)), static_cast<float>(rate_),
             static_cast<UINT32>(blockFrames_));
  latencyFrames_ = static_cast<std::size_t>(
      std::llround(static_cast<double>(host_.latency()) * rate_ / kHundredNanosecondsPerSecond));
  if (meters_.open(sharedFilePath()) != SharedFile::State::mapped && log_.wanted())
    warn("the effect publishes no meters (" + meters_.problem() + "); the meters are left out");
  return SoundFile::openForWriting(temporary_.descriptor(), options_.output, outputFormat_,
                                   channels_, info_.samplerate);
}

void ProcessRun::processBlocks() {
  if (options_.reportFile || options_.spectrogramsFile) {
    const auto expected = static_cast<std::size_t>(std::max<sf_count_t>(info_.frames, 0));
    inPicture_ = std::make_unique<Spectrogram>(rate_, channels_, expected, kSpectrogramColumns);
    outPicture_ = std::make_unique<Spectrogram>(rate_, channels_, expected, kSpectrogramColumns);
  }
  std::vector<float> buffer(blockFrames_ * static_cast<std::size_t>(channels_));
  const std::size_t channelCount = static_cast<std::size_t>(channels_);
  std::size_t skip = options_.align ? latencyFrames_ : 0;
  std::size_t framesOut = 0, framesProcessed = 0;
  bool inputDone = false;
  const std::uint64_t startTick = tickCount64();
  ProgressBar progress(!options_.quiet && standardOutputIsTerminal() &&
                           info_.frames > static_cast<sf_count_t>(kProgressMinSeconds * rate_),
                       static_cast<std::size_t>(std::max<sf_count_t>(info_.frames, 0)));

  while (true) {
    if (stopSignal != 0) throw Interrupted{stopSignal};
    std::size_t frames = 0;
    if (!inputDone) {
      frames = input_.read(buffer.data(), blockFrames_);
      if (frames < blockFrames_) inputDone = true;
      inStats_.add(buffer.data(), frames, channels_);
      inFigures_.add(buffer.data(), frames);
      if (inPicture_) inPicture_->add(buffer.data(), frames);
      framesIn_ += frames;
    }
    if (frames == 0) {
      // Past the end, --align feeds silence until the delayed tail is out.
      if (framesOut >= framesIn_) break;
      frames = blockFrames_;
      std::fill(buffer.begin(), buffer.end(), 0.0f);
    }
    const std::clock_t start = std::clock();
    host_.process(buffer.data(), static_cast<UINT32>(frames));
    cpuSeconds_ += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    framesProcessed += frames;

    if (meters_.state() == SharedFile::State::mapped) {
      const StreamReading reading = readStream(meters_.block());
      ranges_.add(reading.meters);
      log_.afterBlock(framesProcessed, rate_, reading);
    }

    const std::size_t skipped = std::min(skip, frames);
    skip -= skipped;
    const std::size_t keep = std::min(frames - skipped, framesIn_ - framesOut);
    const float* kept = buffer.data() + skipped * channelCount;
    output_.write(kept, keep);
    outStats_.add(kept, keep, channels_);
    outFigures_.add(kept, keep);
    if (outPicture_) outPicture_->add(kept, keep);
    framesOut += keep;
    progress.update(framesIn_, tickCount64() - startTick);
  }
  progress.finish();
  host_.unlock();
  output_.close();
  temporary_.commit();
  log_.finish();
}

void ProcessRun::warnAboutInput() const {
  if (inStats_.fullScaleSamples > 0)
    warn(options_.input + ": " + std::to_string(inStats_.fullScaleSamples) +
         " samples at full scale: the recording is clipped, and what clipping cut off cannot be "
         "restored");
  const sf_count_t declared = input_.declaredFrames();
  if (declared > static_cast<sf_count_t>(framesIn_))
    warn(options_.input + " is shorter than its header says: " + fixedText(framesIn_ / rate_, 2) +
         " s present of " + fixedText(static_cast<double>(declared) / rate_, 2) +
         " s (the file was cut off); the part present was processed");
}

std::string ProcessRun::summary() const {
  RunFacts facts;
  facts.input = options_.input;
  facts.output = options_.output;
  facts.inputFormat = SoundFile::describe(info_.format);
  facts.outputFormat = SoundFile::describe(outputFormat_);
  facts.origin = origin_;
  facts.channels = channels_;
  facts.sampleRate = info_.samplerate;
  facts.seconds = framesIn_ / rate_;
  facts.latencyFrames = latencyFrames_;
  facts.aligned = options_.align;
  facts.cpuSeconds = cpuSeconds_;
  return summaryText(facts, inStats_, outStats_, inFigures_, outFigures_, ranges_);
}

void ProcessRun::writeReports(const std::string& summary) const {
  if (options_.reportFile) {
    writeReport(*options_.reportFile,
                {options_.input + " -> " + options_.output, summary, &*inPicture_, &*outPicture_,
                 log_.samples(), &record_},
                options_.spectrogramsFile.value_or(""));
  } else if (options_.spectrogramsFile) {
    writeSpectrograms(*options_.spectrogramsFile, *inPicture_, *outPicture_);
  }
}

int run(const ProcessOptions& options) {
  refuseSameFiles(options);
  ProcessRun run(options);
  run.processBlocks();
  run.warnAboutInput();
  const std::string summary = run.summary();
  run.writeReports(summary);
  if (!options.quiet) std::cout << summary;
  return 0;
}

}  // namespace
}  // namespace vorlund

int main(int argc, char** argv) {
  using namespace vorlund;
  std::signal(SIGINT, noteStopSignal);
  std::signal(SIGTERM, noteStopSignal);
  try {
    return runTool("vorlund-process", static_cast<int>(ExitCode::apoFailure), argc, argv,
                   [](const std::vector<std::string>& arguments) {
                     const ProcessOptions options = parseProcessOptions(arguments);
                     if (options.help) {
                       std::cout << processUsage();
                       return 0;
                     }
                     if (options.version) {
                       // The library decides the same way in this process.
                       applyForcedVectorPath();
                       std::cout << versionLine() << " (vector path "
                                 << vectorPathName(chosenVectorPath()) << ")\n";
                       return 0;
                     }
                     return run(options);
                   });
  } catch (const Interrupted& interrupted) {
    // Everything is cleaned up by now: end as the signal would have ended the program.
    std::signal(interrupted.signal, SIG_DFL);
    std::raise(interrupted.signal);
    return 128 + interrupted.signal;
  }
}
