// vorlund-process as a user runs it: a separate process on real sound files, its output files
// read back with libsndfile and its messages and exit codes checked.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/preset_library.h"
#include "platform/process.h"
#include "signal_helpers.h"
#include "temp_data_folder.h"

#if !VORLUND_WINDOWS
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vorlund {
namespace {

namespace fs = std::filesystem;

struct Sound {
  SF_INFO info{};
  std::vector<float> samples;  // interleaved
};

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::ostream& operator<<(std::ostream& stream, const ToolRun& run) {
  return stream << "exit " << run.exitCode << "\n--- stdout\n"
                << run.out << "--- stderr\n"
                << run.err;
}

class ProcessTest : public ::testing::Test {
 protected:
  fs::path file(const std::string& name) const { return temp_.programData() / name; }

  ToolRun run(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), VORLUND_PROCESS);
    arguments.push_back("--presets-dir");
    arguments.push_back(VORLUND_PRESETS_DIR);
    ToolRun result;
    result.exitCode = runProcess(arguments, Path::fromNative(file("run.out").c_str()),
                                 Path::fromNative(file("run.err").c_str()));
    result.out = test::readBytes(file("run.out"));
    result.err = test::readBytes(file("run.err"));
    return result;
  }

  // The argument list a test extends: input and output first.
  std::vector<std::string> files(const fs::path& in, const fs::path& out) const {
    return {in.string(), out.string()};
  }

  test::TempDataFolder temp_;
};

void writeSound(const fs::path& path, int format, int rate, int channels,
                const std::vector<float>& interleaved) {
  SF_INFO info{};
  info.format = format;
  info.samplerate = rate;
  info.channels = channels;
  SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
  ASSERT_NE(nullptr, file) << sf_strerror(nullptr);
  sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
  sf_close(file);
}

Sound readSound(const fs::path& path) {
  Sound sound;
  SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &sound.info);
  EXPECT_NE(nullptr, file) << path << ": " << sf_strerror(nullptr);
  if (file == nullptr) return sound;
  sound.samples.resize(static_cast<std::size_t>(sound.info.frames * sound.info.channels));
  sf_readf_float(file, sound.samples.data(), sound.info.frames);
  sf_close(file);
  return sound;
}

// Speech-like: a harmonic tone whose pitch glides irregularly around 140 Hz (so that no
// delay but the true one lines it up again) and whose level moves like syllables, over quiet
// noise; channel c carries it at level (1 - 0.2 c), or all alike when `sameChannels`.
std::vector<float> voiceLike(int rate, int channels, double seconds, double level = 0.15,
                             bool sameChannels = false) {
  const int frames = static_cast<int>(rate * seconds);
  const std::vector<float> noise = test::whiteNoise(frames, 5, 0.003f);
  std::vector<float> out(static_cast<std::size_t>(frames) * channels);
  constexpr double kTwoPi = 6.283185307179586;
  double phase = 0.0;
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double pitch =
        140.0 + 40.0 * std::sin(kTwoPi * 0.7 * t) + 20.0 * std::sin(kTwoPi * 1.9 * t);
    phase += kTwoPi * pitch / rate;
    const double envelope = 0.5 + 0.5 * std::sin(kTwoPi * 3.0 * t);
    double tone = 0.0;
    for (int h = 1; h <= 6 && 200.0 * h < rate / 2.0; ++h) tone += std::sin(h * phase) / h;
    for (int c = 0; c < channels; ++c)
      out[static_cast<std::size_t>(i) * channels + c] =
          static_cast<float>(level * envelope * tone * (sameChannels ? 1.0 : 1.0 - 0.2 * c)) +
          noise[i];
  }
  return out;
}

// Every few frames are enough for a correlation of a long voice recording.
constexpr int kCorrelationStride = 3;

// Normalised correlation of the first channels of two sounds with `b` delayed by `lag`.
double correlation(const Sound& a, const Sound& b, int lag) {
  double ab = 0.0, aa = 0.0, bb = 0.0;
  const auto frames = static_cast<int>(std::min(a.info.frames, b.info.frames));
  for (int i = 0; i < frames; i += kCorrelationStride) {
    const int j = i + lag;
    if (j < 0 || j >= frames) continue;
    const double x = a.samples[static_cast<std::size_t>(i) * a.info.channels];
    const double y = b.samples[static_cast<std::size_t>(j) * b.info.channels];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

int bestLag(const Sound& a, const Sound& b, int range) {
  int best = -range;
  double bestValue = -2.0;
  for (int lag = -range; lag <= range; ++lag) {
    const double value = correlation(a, b, lag);
    if (value > bestValue) {
      bestValue = value;
      best = lag;
    }
  }
  return best;
}

// Verifies that WAV and FLAC files at 16000, 44100 and 48000 Hz, mono and stereo, come back
// in the same container and sample format with the same length, rate and channel count, and
// hold processed sound: finite, within full scale and not silent.
TEST_F(ProcessTest, RoundTripKeepsFormatLengthRateAndChannels) {
  const int formats[] = {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16};
  for (int format : formats) {
    for (int rate : {16000, 44100, 48000}) {
      for (int channels : {1, 2}) {
        SCOPED_TRACE(std::to_string(format) + " " + std::to_string(rate) + " Hz " +
                     std::to_string(channels) + " ch");
        const std::string ext = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV ? ".wav" : ".flac";
        const fs::path in = file("in" + ext), out = file("out" + ext);
        // An odd length, so the last block is a partial one.
        const std::vector<float> signal = voiceLike(rate, channels, 1.2345);
        writeSound(in, format, rate, channels, signal);
        const ToolRun result = run(files(in, out));
        ASSERT_EQ(0, result.exitCode) << result;
        const Sound input = readSound(in), output = readSound(out);
        EXPECT_EQ(input.info.format, output.info.format);
        EXPECT_EQ(input.info.frames, output.info.frames);
        EXPECT_EQ(rate, output.info.samplerate);
        EXPECT_EQ(channels, output.info.channels);
        double energy = 0.0;
        int bad = 0;
        for (float x : output.samples) {
          if (!(std::fabs(x) <= 1.0f)) ++bad;
          energy += double(x) * x;
        }
        EXPECT_EQ(0, bad);
        EXPECT_GT(energy, 1e-3 * static_cast<double>(output.samples.size()) * 1e-3);
      }
    }
  }
}

// Verifies that --align removes exactly the reported latency: on the shipped spoken example
// the processed voice lines up with the input at lag 0, where without --align it trails by
// the latency the summary names. The chain's filters turn phase at low frequencies, which
// moves the peak of the correlation by a sample or two, never by a block or the latency.
TEST_F(ProcessTest, AlignLinesOutputUpWithInput) {
  constexpr int kLatency = 583;
  constexpr int kPhaseSlack = 3;
  const fs::path in = fs::path(VORLUND_EXAMPLES_DIR) / "noisy-voice.flac";
  const fs::path aligned = file("aligned.wav"), raw = file("raw.wav");
  std::vector<std::string> arguments = files(in, aligned);
  arguments.push_back("--align");
  const ToolRun alignedRun = run(arguments);
  ASSERT_EQ(0, alignedRun.exitCode) << alignedRun;
  const ToolRun rawRun = run(files(in, raw));
  ASSERT_EQ(0, rawRun.exitCode) << rawRun;
  EXPECT_NE(std::string::npos, rawRun.out.find("latency       583 samples")) << rawRun;

  const Sound input = readSound(in);
  const Sound alignedOut = readSound(aligned), rawOut = readSound(raw);
  EXPECT_EQ(input.info.frames, alignedOut.info.frames);
  EXPECT_NEAR(0, bestLag(input, alignedOut, 800), kPhaseSlack);
  EXPECT_GT(correlation(input, alignedOut, 0), 0.5);
  EXPECT_NEAR(kLatency, bestLag(input, rawOut, 800), kPhaseSlack);
  EXPECT_LT(correlation(input, rawOut, 0), 0.3);
}

// Verifies that a bypass record set on the command line passes a float WAV through bit for
// bit: a mono file at 44100 Hz with a sample beyond full scale, and a stereo file whose
// channels are alike (the effect hands every channel the channels' mean, bypassed or not).
TEST_F(ProcessTest, BypassReproducesFloatWavBitForBit) {
  for (int channels : {1, 2}) {
    SCOPED_TRACE(channels);
    const fs::path in = file("in.wav"), out = file("out.wav");
    std::vector<float> signal = voiceLike(44100, channels, 1.5, 0.6, true);
    for (int c = 0; c < channels; ++c) signal[1000 * channels + c] = 1.5f;  // nor this
    writeSound(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, channels, signal);
    std::vector<std::string> arguments = files(in, out);
    arguments.insert(arguments.end(), {"--set", "bypass=1"});
    const ToolRun result = run(arguments);
    ASSERT_EQ(0, result.exitCode) << result;
    const Sound input = readSound(in), output = readSound(out);
    ASSERT_EQ(input.samples.size(), output.samples.size());
    int differing = 0;
    for (std::size_t i = 0; i < input.samples.size(); ++i)
      if (std::memcmp(&input.samples[i], &output.samples[i], sizeof(float)) != 0) ++differing;
    EXPECT_EQ(0, differing);
  }
}

// Verifies each failure's exit code and message, and that none leaves an output behind that
// looks like a result: a missing input, a file that is not sound, rates and channel counts
// the effect refuses (the message names what it accepts), bad records and a missing library.
TEST_F(ProcessTest, FailuresGiveTheirMessageAndExitCode) {
  const fs::path good = file("good.wav"), out = file("out.wav");
  writeSound(good, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, voiceLike(16000, 1, 0.3));
  const fs::path text = file("notes.wav");
  test::writeBytes(text, "not a sound file at all", 23);
  const fs::path slow = file("slow.wav");
  writeSound(slow, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4000, 1, voiceLike(4000, 1, 0.3));
  const fs::path wide = file("wide.wav");
  writeSound(wide, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 65, voiceLike(16000, 65, 0.05));
  const fs::path badRecord = file("bad.vrl");
  test::writeBytes(badRecord, "inputGainDb = 3\ncompRatoi = 4\n", 30);

  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {{file("absent.wav").string(), out.string()}, 2, "cannot read"},
      {{text.string(), out.string()}, 2, "cannot read"},
      {{slow.string(), out.string()},
       5,
       "4000 Hz; it accepts 32-bit float samples, 1 to 64 channels, 8000 to 384000 Hz"},
      {{wide.string(), out.string()}, 5, "65 channel(s)"},
      {{good.string(), out.string(), "--set", "nosuchField=1"}, 3, "nosuchField"},
      {{good.string(), out.string(), "--set", "inputGainDb=loud"}, 3, "inputGainDb"},
      {{good.string(), out.string(), "--params", badRecord.string()}, 3, "line 2"},
      {{good.string(), out.string(), "--preset", "no-such-preset"}, 3, "no-such-preset"},
      {{good.string(), out.string(), "--library", file("absent.so").string()},
       4,
       "cannot load the effect library"},
      {{good.string()}, 1, "one input and one output"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.back());
    const ToolRun result = run(c.arguments);
    EXPECT_EQ(c.exitCode, result.exitCode) << result;
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result;
    EXPECT_TRUE(result.out.empty()) << result;
  }
  EXPECT_EQ(0, run(files(good, out)).exitCode) << "the good file itself was fine";
}

// Verifies that every shipped preset runs a loud, uneven voice (bursts near full scale after
// quiet passages) to finite output that never leaves full scale.
TEST_F(ProcessTest, EveryPresetGivesFiniteBoundedOutput) {
  const fs::path in = file("in.wav"), out = file("out.wav");
  std::vector<float> signal = voiceLike(48000, 2, 2.0, 0.2);
  for (std::size_t i = signal.size() / 2; i < signal.size(); ++i) signal[i] *= 4.5f;
  writeSound(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, signal);
  const std::vector<PresetInfo> presets = listPresets(VORLUND_PRESETS_DIR);
  ASSERT_GE(presets.size(), 5u);
  for (const PresetInfo& preset : presets) {
    SCOPED_TRACE(preset.name);
    std::vector<std::string> arguments = files(in, out);
    arguments.insert(arguments.end(), {"--preset", preset.name});
    const ToolRun result = run(arguments);
    ASSERT_EQ(0, result.exitCode) << result;
    const Sound output = readSound(out);
    ASSERT_EQ(static_cast<sf_count_t>(signal.size() / 2), output.info.frames);
    int bad = 0;
    double energy = 0.0;
    for (float x : output.samples) {
      if (!(std::fabs(x) <= 1.0f)) ++bad;
      energy += double(x) * x;
    }
    EXPECT_EQ(0, bad);
    EXPECT_GT(energy, 0.0);
  }
}

// Names in `folder` other than the ones a test made itself: what a run left behind.
std::vector<std::string> leftovers(const fs::path& folder, std::vector<std::string> expected) {
  std::vector<std::string> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) found.push_back(name);
  }
  return found;
}

// Verifies that the output never costs the user data: OUT naming the input (directly or
// through a link) is refused with the input untouched; a failed run leaves an existing OUT as
// it was; and a run's own folder and temporary output are gone afterwards.
TEST_F(ProcessTest, OutputNeverDestroysTheInput) {
  const fs::path in = file("in.wav"), out = file("out.wav");
  writeSound(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, voiceLike(16000, 1, 0.5));
  const std::string original = test::readBytes(in);
  std::vector<fs::path> sameFile = {in};
  std::error_code linkError;
  fs::create_symlink(in, file("link.wav"), linkError);
  if (!linkError) sameFile.push_back(file("link.wav"));
  for (const fs::path& target : sameFile) {
    const ToolRun result = run(files(in, target));
    EXPECT_EQ(1, result.exitCode) << result;
    EXPECT_NE(std::string::npos, result.err.find("is the input file itself")) << result;
    EXPECT_EQ(original, test::readBytes(in));
  }
  test::writeBytes(out, "precious", 8);
  EXPECT_EQ(3, run({in.string(), out.string(), "--set", "nosuchField=1"}).exitCode);
  EXPECT_EQ("precious", test::readBytes(out));
  EXPECT_EQ(0, run(files(in, out)).exitCode);
  EXPECT_EQ(16000 / 2, readSound(out).info.frames);
  const std::vector<std::string> mine = {"Vorlund",  "in.wav",  "out.wav",
                                         "link.wav", "run.out", "run.err"};
  EXPECT_EQ(std::vector<std::string>{}, leftovers(temp_.programData(), mine));
}

#if !VORLUND_WINDOWS
// Verifies that SIGTERM and SIGINT in the middle of a run leave neither the output nor the
// run's private folder, that a private folder of a run killed outright is removed by the next
// run, and (as root, on a small tmpfs) that a full disk leaves no output.
TEST_F(ProcessTest, InterruptedOrFailedRunsLeaveNothing) {
  const fs::path in = file("long.wav"), out = file("out.wav");
  writeSound(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, voiceLike(48000, 2, 60.0));
  const std::vector<std::string> mine = {"Vorlund", "long.wav", "run.out", "run.err"};
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    const std::string presets = VORLUND_PRESETS_DIR;
    const pid_t child = fork();
    if (child == 0) {
      execl(VORLUND_PROCESS, VORLUND_PROCESS, in.c_str(), out.c_str(), "--quiet", "--presets-dir",
            presets.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Until the run is writing its output, then the signal.
    const fs::path partial = file((".out.wav.vorlund-" + std::to_string(child) + ".tmp").c_str());
    for (int waited = 0; waited < 20000 && !fs::exists(partial); ++waited) usleep(500);
    EXPECT_TRUE(fs::exists(partial));
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(std::vector<std::string>{}, leftovers(temp_.programData(), mine));
  }

  // A run killed outright: a child that has ended stands in for its process id.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const fs::path stale = file(("vorlund-process-" + std::to_string(gone) + "-1-0").c_str());
  fs::create_directories(stale / "Vorlund");
  const fs::path short16 = file("short.wav");
  writeSound(short16, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, voiceLike(16000, 1, 0.2));
  EXPECT_EQ(0, run(files(short16, out)).exitCode);
  EXPECT_FALSE(fs::exists(stale));

  if (geteuid() != 0) GTEST_SKIP() << "not root: no small file system to fill";
  const fs::path full = file("full");
  fs::create_directory(full);
  if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs";
  const ToolRun result = run(files(in, full / "out.wav"));
  EXPECT_EQ(2, result.exitCode) << result;
  EXPECT_EQ(std::vector<std::string>{}, leftovers(full, {}));
  EXPECT_EQ(0, umount(full.c_str()));
}
#endif

}  // namespace
}  // namespace vorlund
