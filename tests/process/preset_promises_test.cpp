// The presets' promises, as presets/README.md states them, measured: every preset runs over the
// example recording (and, outside sanitizer builds, over a five-minute repetition of it) and
// each stated property is checked on the result: voice loudness, pause noise, hum lines and
// band limits, measured on the 100 ms frames the input shows as pauses or voice.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/recording_figures.h"
#include "process/process_harness.h"

namespace vorlund {
namespace {

constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();

// What a preset's line in presets/README.md promises; unset figures promise nothing.
struct Promise {
  const char* preset;
  double voiceLufs = kUnset;          // voice loudness within 1 LU of this
  double voiceChangeLu = kUnset;      // voice loudness within this of the input's
  bool quieterPauses = false;         // pause noise no louder than the input's
  double pauseDropDb = kUnset;        // pause noise at least this far below the input's
  double humDropDb = kUnset;          // the 50 Hz line this far down (or gone into the background)
  double humHarmonicDropDb = kUnset;  // each harmonic the input carries this far down (or gone)
  double band150DownDb = kUnset;      // 150 Hz this far down against 1 kHz
  double band6kDownDb = kUnset;       // 6 kHz this far down against 1 kHz
  double peakDbfs = -1.0;             // output peak at most this (every preset: the limiter)

  // Whether a promise rests on stages that settle or drift over time (automatic gain, gate,
  // noise tracking), which the long run checks; fixed filters say the same on any length.
  bool settles() const {
    return !std::isnan(voiceLufs) || !std::isnan(voiceChangeLu) || !std::isnan(pauseDropDb) ||
           !std::isnan(humDropDb);
  }
};

const Promise kPromises[] = {
    {.preset = "default", .voiceChangeLu = 2.0, .quieterPauses = true, .pauseDropDb = 6.0},
    {.preset = "podcast", .voiceLufs = -16.0, .quieterPauses = true},
    {.preset = "meeting", .voiceLufs = -20.0, .quieterPauses = true, .pauseDropDb = 3.0},
    {.preset = "streaming-fan",
     .voiceChangeLu = 2.0,
     .quieterPauses = true,
     .pauseDropDb = 8.0,
     .humDropDb = 20.0,
     .humHarmonicDropDb = 15.0},
    {.preset = "telephone", .quieterPauses = true, .band150DownDb = 25.0, .band6kDownDb = 15.0},
    {.preset = "radio", .quieterPauses = true, .band150DownDb = 15.0, .band6kDownDb = 15.0},
    {.preset = "robot"},
    {.preset = "deep-voice"},
    {.preset = "hall"},
    {.preset = "echo"},
};

// The lines measured: the 50 Hz hum and its first harmonics with a neighbour 20 Hz either side,
// and three bins around each of 150 Hz, 1 kHz and 6 kHz.
constexpr double kHumBase = 50.0;
constexpr int kHumLines = 4;
constexpr double kNeighbourHz = 20.0;
constexpr double kBandCentres[] = {150.0, 1000.0, 6000.0};
constexpr double kBandSpreadHz = 20.0;
// A hum line the input carries stands this far above its neighbours.
constexpr double kHumStandsOutDb = 6.0;
constexpr double kBackgroundSpreadDb = 1.0;
// The drop noted for a hum line that is gone into the background.
constexpr double kGone = 99.0;

std::vector<double> measuredLines() {
  std::vector<double> lines;
  for (int h = 1; h <= kHumLines; ++h)
    for (double offset : {0.0, -kNeighbourHz, kNeighbourHz}) lines.push_back(kHumBase * h + offset);
  for (double centre : kBandCentres)
    for (double offset : {-kBandSpreadHz, 0.0, kBandSpreadHz}) lines.push_back(centre + offset);
  return lines;
}

double powerOf(double db) {
  return std::pow(10.0, db / 10.0);
}
double dbOf(double power) {
  return 10.0 * std::log10(power);
}

struct Figures {
  double voiceIn = 0.0, voiceOut = 0.0;
  double pauseIn = 0.0, pauseOut = 0.0;
  std::vector<double> humDrop;  // per hum line the input carries, 50 Hz first when it does
  double bandDown150 = 0.0, bandDown6k = 0.0;
  double peakOut = 0.0;
};

std::ostream& operator<<(std::ostream& stream, const Figures& f) {
  stream << "voice " << f.voiceIn << " -> " << f.voiceOut << " LUFS, pauses " << f.pauseIn << " -> "
         << f.pauseOut << " dB, hum down";
  for (double drop : f.humDrop) stream << " " << drop;
  return stream << " dB, 150 Hz " << f.bandDown150 << " dB and 6 kHz " << f.bandDown6k
                << " dB down against 1 kHz, peak " << f.peakOut << " dBFS";
}

// The figures of `out` against `in` (which it lines up with) from frame `from` on.
Figures measure(const Sound& in, const Sound& out, std::size_t from) {
  const std::vector<double> lines = measuredLines();
  FrameFigures input(in.info.samplerate, in.info.channels, lines);
  FrameFigures output(out.info.samplerate, out.info.channels, lines);
  input.add(in.samples.data() + from * in.info.channels,
            static_cast<std::size_t>(in.info.frames) - from);
  output.add(out.samples.data() + from * out.info.channels,
             static_cast<std::size_t>(out.info.frames) - from);
  const Sections sections = findSections(input);
  Figures f;
  f.voiceIn = input.loudnessLufs(sections.voice);
  f.voiceOut = output.loudnessLufs(sections.voice);
  f.pauseIn = input.levelDb(sections.pauses);
  f.pauseOut = output.levelDb(sections.pauses);
  for (int h = 0; h < kHumLines; ++h) {
    const std::size_t at = static_cast<std::size_t>(3 * h);
    const auto level = [&](const FrameFigures& figures, std::size_t line) {
      return figures.lineLevelDb(line, sections.pauses);
    };
    const double neighboursIn = std::max(level(input, at + 1), level(input, at + 2));
    if (level(input, at) < neighboursIn + kHumStandsOutDb) continue;
    // A line that sinks into the background around it (within the 1 dB that a background
    // level varies from bin to bin) is gone, however far it fell.
    const double neighboursOut = std::max(level(output, at + 1), level(output, at + 2));
    const double drop = level(input, at) - level(output, at);
    f.humDrop.push_back(level(output, at) <= neighboursOut + kBackgroundSpreadDb ? kGone : drop);
  }
  const auto bandGain = [&](std::size_t band) {
    const std::size_t first = static_cast<std::size_t>(3 * kHumLines + 3 * band);
    double before = 0.0, after = 0.0;
    for (std::size_t k = first; k < first + 3; ++k) {
      before += powerOf(input.lineLevelDb(k, sections.voice));
      after += powerOf(output.lineLevelDb(k, sections.voice));
    }
    return dbOf(after) - dbOf(before);
  };
  f.bandDown150 = bandGain(1) - bandGain(0);
  f.bandDown6k = bandGain(1) - bandGain(2);
  double peak = 0.0;
  for (float x : std::span(out.samples).subspan(from * out.info.channels))
    peak = std::max(peak, static_cast<double>(std::fabs(x)));
  f.peakOut = 20.0 * std::log10(peak);
  return f;
}

void checkPromise(const Promise& promise, const Figures& f) {
  SCOPED_TRACE(::testing::Message() << f);
  if (!std::isnan(promise.voiceLufs)) {
    EXPECT_NEAR(promise.voiceLufs, f.voiceOut, 1.0);
  }
  if (!std::isnan(promise.voiceChangeLu)) {
    EXPECT_NEAR(f.voiceIn, f.voiceOut, promise.voiceChangeLu);
  }
  if (promise.quieterPauses) {
    EXPECT_LE(f.pauseOut, f.pauseIn);
  }
  if (!std::isnan(promise.pauseDropDb)) {
    EXPECT_GE(f.pauseIn - f.pauseOut, promise.pauseDropDb);
  }
  if (!std::isnan(promise.humDropDb)) {
    ASSERT_GE(f.humDrop.size(), 2u) << "the example carries hum at 50 and 150 Hz";
    EXPECT_GE(f.humDrop[0], promise.humDropDb);
    for (std::size_t h = 1; h < f.humDrop.size(); ++h)
      EXPECT_GE(f.humDrop[h], promise.humHarmonicDropDb);
  }
  if (!std::isnan(promise.band150DownDb)) {
    EXPECT_GE(f.bandDown150, promise.band150DownDb);
  }
  if (!std::isnan(promise.band6kDownDb)) {
    EXPECT_GE(f.bandDown6k, promise.band6kDownDb);
  }
  if (!std::isnan(promise.peakDbfs)) {
    EXPECT_LE(f.peakOut, promise.peakDbfs + 0.05);
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kLongRuns = false;  // minutes of audio per preset are too slow under sanitizers
#else
constexpr bool kLongRuns = true;
#endif
constexpr double kLongSeconds = 300.0;
// The long run is measured over its last minute, long after every stage has settled.
constexpr double kSettledSeconds = 60.0;

class PresetPromisesTest : public ProcessTest {
 protected:
  // Runs every preset over `input` and checks its promises from `measuredSeconds` before the
  // end (all of it when longer than the input).
  void checkAll(const fs::path& input, double measuredSeconds, bool settlingOnly) {
    const Sound in = readSound(input);
    const auto measured = static_cast<sf_count_t>(measuredSeconds * in.info.samplerate);
    const auto from = static_cast<std::size_t>(std::max<sf_count_t>(0, in.info.frames - measured));
    for (const Promise& promise : kPromises) {
      if (settlingOnly && !promise.settles()) continue;
      SCOPED_TRACE(promise.preset);
      const fs::path out = file(std::string(promise.preset) + ".wav");
      std::vector<std::string> arguments = files(input, out);
      arguments.insert(arguments.end(),
                       {"--preset", promise.preset, "--align", "--quiet", "--format", "wavf"});
      const ToolRun result = run(arguments);
      ASSERT_EQ(0, result.exitCode) << result;
      checkPromise(promise, measure(in, readSound(out), from));
    }
  }
};

// Verifies every preset's promises over the example recording.
TEST_F(PresetPromisesTest, EveryPresetKeepsItsPromisesOnTheExample) {
  checkAll(fs::path(VORLUND_EXAMPLES_DIR) / "noisy-voice.flac", kLongSeconds, false);
}

// Verifies the promises that rest on slow stages (the automatic gain, the gate's and the
// suppressor's tracking) over the last minute of five minutes of the example repeated, where
// they have long settled or drifted.
TEST_F(PresetPromisesTest, EveryPresetKeepsItsPromisesOverFiveMinutes) {
  if (!kLongRuns) GTEST_SKIP() << "five minutes per preset are run in the Release build only";
  const Sound example = readSound(fs::path(VORLUND_EXAMPLES_DIR) / "noisy-voice.flac");
  std::vector<float> repeated;
  while (static_cast<double>(repeated.size()) / example.info.channels / example.info.samplerate <
         kLongSeconds)
    repeated.insert(repeated.end(), example.samples.begin(), example.samples.end());
  const fs::path input = file("long.wav");
  writeSound(input, SF_FORMAT_WAV | SF_FORMAT_FLOAT, example.info.samplerate, example.info.channels,
             repeated);
  checkAll(input, kSettledSeconds, true);
}

}  // namespace
}  // namespace vorlund
