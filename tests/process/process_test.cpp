// vorlund-process as a user runs it: a separate process on real sound files, its output files
// read back with libsndfile and its messages and exit codes checked.
#include <gtest/gtest.h>
#include <png.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "chain/numbers.h"
#include "common/preset_library.h"
#include "process/process_harness.h"
#include "signal_helpers.h"

#if !VORLUND_WINDOWS
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vorlund {
namespace {

namespace fs = std::filesystem;
using test::voiceLike;

// Samples that are not finite or exceed full scale.
int samplesOutOfRange(const std::vector<float>& samples) {
  return static_cast<int>(std::count_if(samples.begin(), samples.end(),
                                        [](float x) { return !(std::fabs(x) <= 1.0f); }));
}

double energy(const std::vector<float>& samples) {
  double sum = 0.0;
  for (float x : samples) sum += double(x) * x;
  return sum;
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
        EXPECT_EQ(0, samplesOutOfRange(output.samples));
        EXPECT_GT(energy(output.samples), 1e-3 * static_cast<double>(output.samples.size()) * 1e-3);
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
      {{file("absent.wav").string(), out.string()}, 12, "cannot read"},
      {{text.string(), out.string()}, 12, "cannot read"},
      {{slow.string(), out.string()},
       14,
       "4000 Hz; it accepts 32-bit float samples, 1 to 64 channels, 8000 to 384000 Hz"},
      {{wide.string(), out.string()}, 14, "65 channel(s)"},
      {{good.string(), out.string(), "--set", "nosuchField=1"}, 2, "nosuchField"},
      {{good.string(), out.string(), "--set", "inputGainDb=loud"}, 2, "inputGainDb"},
      {{good.string(), out.string(), "--params", badRecord.string()}, 2, "line 2"},
      {{good.string(), out.string(), "--preset", "no-such-preset"}, 2, "no-such-preset"},
      {{good.string(), out.string(), "--library", file("absent.so").string()},
       13,
       "cannot load the effect library"},
      {{good.string()}, 2, "one input and one output"},
      {{good.string(), out.string(), "--no-such-option"}, 2, "unknown option '--no-such-option'"},
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
    EXPECT_EQ(0, samplesOutOfRange(output.samples));
    EXPECT_GT(energy(output.samples), 0.0);
  }
}

// Verifies the output's container: chosen by OUT's extension with IN's sample format where it
// fits (.flac, .aiff, .ogg), by --format whatever the name (with a warning), refused for an
// unknown extension with the choices listed; and that a 6-channel WAV gets no warning, its
// summary saying that the mono result is written to every channel.
TEST_F(ProcessTest, OutputContainerFollowsTheExtension) {
  const fs::path in = file("in.wav");
  writeSound(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, voiceLike(16000, 1, 0.5));
  struct Case {
    const char* output;
    std::vector<std::string> extra;
    int format;
  };
  const Case cases[] = {
      {"out.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"out.aiff", {}, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
      {"out.ogg", {}, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
      {"out.wav", {"--format", "caf"}, SF_FORMAT_CAF | SF_FORMAT_PCM_16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> arguments = files(in, file(c.output));
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    const ToolRun result = run(arguments);
    ASSERT_EQ(0, result.exitCode) << result;
    EXPECT_EQ(c.format, readSound(file(c.output)).info.format);
    EXPECT_EQ(c.extra.empty(), result.err.empty()) << result;
  }
  const ToolRun unknown = run(files(in, file("out.xyz")));
  EXPECT_EQ(2, unknown.exitCode) << unknown;
  EXPECT_NE(std::string::npos, unknown.err.find("unknown extension '.xyz'")) << unknown;
  EXPECT_NE(std::string::npos, unknown.err.find("flac")) << unknown;
  EXPECT_FALSE(fs::exists(file("out.xyz")));

  const fs::path wide = file("six.wav");
  writeSound(wide, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 6, voiceLike(48000, 6, 0.3));
  const ToolRun six = run(files(wide, file("six-out.wav")));
  ASSERT_EQ(0, six.exitCode) << six;
  EXPECT_TRUE(six.err.empty()) << six;
  EXPECT_NE(std::string::npos, six.out.find("writes the result to every channel")) << six;
}

// Verifies that faults of the input are named: clipped samples counted in a warning, a file
// cut off after its header warned about with both lengths, and a folder or an empty file
// refused in words rather than as an unrecognised format.
TEST_F(ProcessTest, InputFaultsAreNamed) {
  std::vector<float> clipped = voiceLike(16000, 1, 1.0);
  for (int i = 0; i < 37; ++i)
    clipped[static_cast<std::size_t>(1000 + 3 * i)] = i % 2 ? 1.0f : -1.0f;
  const fs::path loud = file("loud.wav"), out = file("out.wav");
  writeSound(loud, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, clipped);
  ToolRun result = run(files(loud, out));
  EXPECT_EQ(0, result.exitCode) << result;
  EXPECT_NE(std::string::npos, result.err.find("37 samples at full scale")) << result;

  const fs::path whole = file("whole.wav"), cut = file("cut.wav");
  writeSound(whole, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, voiceLike(16000, 1, 2.0));
  const std::string bytes = test::readBytes(whole);
  test::writeBytes(cut, bytes.data(), bytes.size() / 4);
  result = run(files(cut, out));
  EXPECT_EQ(0, result.exitCode) << result;
  EXPECT_NE(std::string::npos, result.err.find("shorter than its header says")) << result;
  EXPECT_NE(std::string::npos, result.err.find("of 2.00 s")) << result;

  const fs::path empty = file("empty.wav");
  test::writeBytes(empty, "", 0);
  for (const auto& [input, words] : {std::pair{file("folder.wav"), "folder"}, {empty, "empty"}}) {
    fs::create_directories(file("folder.wav"));
    result = run(files(input, out));
    EXPECT_EQ(12, result.exitCode) << result;
    EXPECT_NE(std::string::npos, result.err.find(words)) << result;
  }
}

// Verifies the meters file: every published meter, voice activity and bypass as columns, and
// plain numbers (no exponent, no "-0.00"); a bypass record shows in the bypass column.
TEST_F(ProcessTest, MetersFileCarriesEveryMeterInPlainNumbers) {
  const fs::path in = file("in.wav"), csv = file("meters.csv");
  writeSound(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, voiceLike(48000, 1, 1.0));
  std::vector<std::string> arguments = files(in, file("out.wav"));
  arguments.insert(arguments.end(), {"--meters", csv.string(), "--set", "bypass=1"});
  const ToolRun result = run(arguments);
  ASSERT_EQ(0, result.exitCode) << result;
  const std::string text = test::readBytes(csv);
  const std::string header = text.substr(0, text.find('\n'));
  for (const char* column : {"plosiveGainDb", "agcGainDb", "voiceActive", "bypassActive"})
    EXPECT_NE(std::string::npos, header.find(column)) << column;
  const std::string rows = text.substr(header.size());
  EXPECT_GE(std::count(rows.begin(), rows.end(), '\n'), 9);
  EXPECT_EQ(std::string::npos, rows.find_first_of("eE")) << rows;
  EXPECT_EQ(std::string::npos, rows.find("-0.00,")) << rows;
  EXPECT_NE(std::string::npos, rows.find(",1\n")) << "bypass column: " << rows;
}

// Verifies the report: one page holding the input and output to play (embedded WAV files of
// the whole recording), the spectrograms as an embedded PNG with their axes, plots only of
// the meters of stages that acted (in bypass none did; the automatic gain is off by default)
// and the summary; and the spectrograms' own PNG, whose frequency axis puts a 1 kHz
// tone (passed through in bypass) on the row the logarithmic scale from 50 Hz gives it, in
// the input's half and the output's alike.
TEST_F(ProcessTest, ReportShowsSpectrogramsMetersAndSummary) {
  constexpr int kRate = 48000;
  const fs::path in = file("tone.wav"), page = file("report.html"), picture = file("report.png");
  writeSound(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, test::sine(1000.0, kRate, kRate, 0.3));
  std::vector<std::string> arguments = files(in, file("out.wav"));
  arguments.insert(arguments.end(), {"--set", "bypass=1", "--report", page.string(),
                                     "--spectrograms", picture.string()});
  const ToolRun result = run(arguments);
  ASSERT_EQ(0, result.exitCode) << result;
  const std::string html = test::readBytes(page);
  EXPECT_NE(std::string::npos, html.find("href=\"data:image/png;base64,iVBORw0KGgo"));
  std::vector<std::string> players;
  const std::string wav = "src=\"data:audio/wav;base64,";
  for (std::size_t at = html.find(wav); at != std::string::npos; at = html.find(wav, at + 1))
    players.push_back(
        html.substr(at + wav.size(), html.find('"', at + wav.size()) - at - wav.size()));
  ASSERT_EQ(2u, players.size());
  for (const std::string& player : players) {
    EXPECT_EQ(0u, player.find("UklGR")) << "a RIFF file";
    // 44 header bytes and two bytes a sample, in base64's four characters per three bytes.
    EXPECT_EQ((44u + 2u * kRate + 2u) / 3u * 4u, player.size());
  }
  std::size_t plots = 0;
  for (std::size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1))
    ++plots;
  EXPECT_EQ(3u, plots) << "the spectrograms, the background and voice activity";
  for (const char* text : {">1 kHz<", ">time (s)<", ">dBFS<", "compression: no action",
                           "limiting: no action", "AGC gain: off"})
    EXPECT_NE(std::string::npos, html.find(text)) << text;
  EXPECT_NE(std::string::npos, html.find("pause noise")) << "the summary";

  const std::string bytes = test::readBytes(picture);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()));
  image.format = PNG_FORMAT_GRAY;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
  constexpr int kRows = 256, kGap = 6;
  ASSERT_EQ(static_cast<png_uint_32>(2 * kRows + kGap), image.height);
  const double expectedRow = kRows * (1.0 - std::log(1000.0 / 50.0) / std::log(20000.0 / 50.0));
  const png_uint_32 column = image.width / 2;
  for (int half = 0; half < 2; ++half) {
    SCOPED_TRACE(half == 0 ? "input" : "output");
    int brightest = 0;
    for (int row = 0; row < kRows; ++row) {
      const auto at = [&](int r) {
        return pixels[(half * (kRows + kGap) + r) * image.width + column];
      };
      if (at(row) > at(brightest)) brightest = row;
    }
    EXPECT_NEAR(expectedRow, brightest, 2.0);
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
    ToolRun result = run(files(in, target));
    EXPECT_EQ(2, result.exitCode) << result;
    EXPECT_NE(std::string::npos, result.err.find("is the input file itself")) << result;
    EXPECT_EQ(original, test::readBytes(in));
    // Nor may any other file a run writes be the input, or the output.
    for (const char* option : {"--meters", "--report", "--spectrograms"}) {
      result = run({in.string(), out.string(), option, target.string()});
      EXPECT_EQ(2, result.exitCode) << option << result;
      EXPECT_EQ(original, test::readBytes(in)) << option;
    }
  }
  EXPECT_EQ(2, run({in.string(), out.string(), "--report", out.string()}).exitCode);
  EXPECT_FALSE(fs::exists(out));
  test::writeBytes(out, "precious", 8);
  EXPECT_EQ(2, run({in.string(), out.string(), "--set", "nosuchField=1"}).exitCode);
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
    // Until the run is writing its output (under a name of its own choice), then the signal.
    const auto writing = [&] {
      for (const fs::directory_entry& entry : fs::directory_iterator(temp_.programData()))
        if (entry.path().filename().string().starts_with(".out.wav.vorlund-")) return true;
      return false;
    };
    for (int waited = 0; waited < 20000 && !writing(); ++waited) usleep(500);
    EXPECT_TRUE(writing());
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
  EXPECT_EQ(12, result.exitCode) << result;
  EXPECT_EQ(std::vector<std::string>{}, leftovers(full, {}));
  EXPECT_EQ(0, umount(full.c_str()));
}
#endif

}  // namespace
}  // namespace vorlund
