// The presets' promises, as presets/README.md states them, measured: every preset runs over the
// example recording and over the desk set made from it (typing, chatter, a television, mains
// buzz), and each stated property is checked on the result: voice loudness, pause noise, the
// voice-to-pause distance, hum lines and band limits, on the 100 ms frames of pauses and voice.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/recording_figures.h"
#include "desk_noise.h"
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

  double distanceDropDb = kUnset;  // voice-to-pause distance at most this below the input's
  double pauseRiseDb = kUnset;     // pause noise at most this above the input's
};

const Promise kPromises[] = {
    {.preset = "default",
     .voiceChangeLu = 2.0,
     .quieterPauses = true,
     .pauseDropDb = 6.0,
     .distanceDropDb = 1.0},
    {.preset = "podcast", .voiceLufs = -16.0, .quieterPauses = true, .distanceDropDb = 1.0},
    {.preset = "meeting",
     .voiceLufs = -20.0,
     .quieterPauses = true,
     .pauseDropDb = 3.0,
     .distanceDropDb = 1.0},
    {.preset = "streaming-fan",
     .voiceChangeLu = 2.0,
     .quieterPauses = true,
     .pauseDropDb = 8.0,
     .humDropDb = 20.0,
     .humHarmonicDropDb = 15.0,
     .distanceDropDb = 1.0},
    {.preset = "telephone",
     .quieterPauses = true,
     .band150DownDb = 25.0,
     .band6kDownDb = 15.0,
     .distanceDropDb = 1.0},
    {.preset = "radio",
     .quieterPauses = true,
     .band150DownDb = 15.0,
     .band6kDownDb = 15.0,
     .distanceDropDb = 1.0},
    {.preset = "robot"},
    {.preset = "deep-voice"},
    {.preset = "hall"},
    {.preset = "echo"},
};

// Where a row states what a preset reaches at a desk instead of its pause promise: the pause
// noise at most `pauseRiseDb` above the input's (below it, when negative), and where set, the
// voice-to-pause distance at most `distanceDropDb` below the input's.
struct DeskStatement {
  const char* preset;
  const char* condition;
  double pauseRiseDb;
  double distanceDropDb = kUnset;
};

const DeskStatement kDeskStatements[] = {
    {"default", "typing", 2.0, 2.0},    {"default", "chatter", -2.0},
    {"default", "television", -0.5},    {"podcast", "typing", 7.0},
    {"podcast", "chatter", 5.0},        {"podcast", "television", 5.5},
    {"meeting", "typing", 3.0},         {"meeting", "chatter", 0.0},
    {"meeting", "television", 2.0},     {"streaming-fan", "typing", -0.5},
    {"streaming-fan", "chatter", -4.5}, {"streaming-fan", "television", -1.5},
};

// `promise` as it stands under the desk's `condition`, with what its row states there.
Promise promiseAt(Promise promise, std::string_view condition) {
  for (const DeskStatement& statement : kDeskStatements) {
    if (statement.preset != std::string_view(promise.preset) || statement.condition != condition)
      continue;
    promise.quieterPauses = false;
    promise.pauseDropDb = kUnset;
    promise.pauseRiseDb = statement.pauseRiseDb;
    if (!std::isnan(statement.distanceDropDb)) promise.distanceDropDb = statement.distanceDropDb;
  }
  return promise;
}

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
  double distanceChange = 0.0;  // voice-to-pause distance (RMS), output's less the input's
  std::vector<double> humDrop;  // per hum line the input carries, 50 Hz first when it does
  double bandDown150 = 0.0, bandDown6k = 0.0;
  double peakOut = 0.0;
};

std::ostream& operator<<(std::ostream& stream, const Figures& f) {
  stream << "voice " << f.voiceIn << " -> " << f.voiceOut << " LUFS, pauses " << f.pauseIn << " -> "
         << f.pauseOut << " dB, distance change " << f.distanceChange << " dB, hum down";
  for (double drop : f.humDrop) stream << " " << drop;
  return stream << " dB, 150 Hz " << f.bandDown150 << " dB and 6 kHz " << f.bandDown6k
                << " dB down against 1 kHz, peak " << f.peakOut << " dBFS";
}

// The figures of `out` against `in` (which it lines up with) from frame `from` on, on the voice
// and pauses of `reference` (of `in` when empty).
Figures measure(const Sound& in, const Sound& out, const std::vector<float>& reference,
                std::size_t from) {
  const std::vector<double> lines = measuredLines();
  FrameFigures input(in.info.samplerate, in.info.channels, lines);
  FrameFigures output(out.info.samplerate, out.info.channels, lines);
  input.add(in.samples.data() + from * in.info.channels,
            static_cast<std::size_t>(in.info.frames) - from);
  output.add(out.samples.data() + from * out.info.channels,
             static_cast<std::size_t>(out.info.frames) - from);
  FrameFigures sectioned(in.info.samplerate, 1, {});
  if (!reference.empty()) sectioned.add(reference.data() + from, reference.size() - from);
  const Sections sections = findSections(reference.empty() ? input : sectioned);
  Figures f;
  f.distanceChange = output.levelDb(sections.voice) - output.levelDb(sections.pauses) -
                     (input.levelDb(sections.voice) - input.levelDb(sections.pauses));
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
  if (!std::isnan(promise.distanceDropDb)) {
    EXPECT_GE(f.distanceChange, -promise.distanceDropDb);
  }
  if (!std::isnan(promise.pauseRiseDb)) {
    EXPECT_LE(f.pauseOut - f.pauseIn, promise.pauseRiseDb);
  }
  if (!std::isnan(promise.pauseDropDb)) {
    EXPECT_GE(f.pauseIn - f.pauseOut, promise.pauseDropDb);
  }
  if (!std::isnan(promise.humDropDb)) {
    // The 150 Hz line stands out in the example's pauses, not where typing or music covers it.
    ASSERT_GE(f.humDrop.size(), 1u) << "the example carries hum at 50 Hz";
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

// The desk set: the example three times over (time for the slow stages to settle), alone
// (its fan and hum) and under each desk noise, set against the example's voice frames. The
// other talkers speak the example's sentence without its lead-in and tail of noise alone.
constexpr int kDeskRepeats = 3;
constexpr double kLeadSeconds = 1.0, kTailSeconds = 0.5;

std::vector<std::pair<std::string, std::vector<float>>> deskSet(const std::vector<float>& base,
                                                                const std::vector<float>& example,
                                                                double rate) {
  FrameFigures figures(rate, 1, {});
  figures.add(base.data(), base.size());
  const double voiceRms = std::pow(10.0, figures.levelDb(findSections(figures).voice) / 20.0);
  const std::vector<float> speech(
      example.begin() + static_cast<std::ptrdiff_t>(kLeadSeconds * rate),
      example.end() - static_cast<std::ptrdiff_t>(kTailSeconds * rate));
  std::vector<std::pair<std::string, std::vector<float>>> set{{"fan", base}};
  for (const bench::DeskNoise& noise : bench::deskNoises(base.size(), rate, speech))
    set.emplace_back(noise.name, bench::withNoise(base, noise, voiceRms));
  return set;
}

class PresetPromisesTest : public ProcessTest {
 protected:
  // Runs `preset` over `input` and measures it from frame `from` on, on the sections of
  // `reference` (the input itself when empty).
  Figures runPreset(const char* preset, const fs::path& input, const Sound& in,
                    const std::vector<float>& reference = {}, std::size_t from = 0) {
    const fs::path out = file(std::string(preset) + ".wav");
    std::vector<std::string> arguments = files(input, out);
    arguments.insert(arguments.end(),
                     {"--preset", preset, "--align", "--quiet", "--format", "wavf"});
    const ToolRun result = run(arguments);
    EXPECT_EQ(0, result.exitCode) << result;
    return measure(in, readSound(out), reference, from);
  }
};

// Verifies every preset's promises over the example recording.
TEST_F(PresetPromisesTest, EveryPresetKeepsItsPromisesOnTheExample) {
  const fs::path input = fs::path(VORLUND_EXAMPLES_DIR) / "noisy-voice.flac";
  const Sound in = readSound(input);
  for (const Promise& promise : kPromises) {
    SCOPED_TRACE(promise.preset);
    checkPromise(promise, runPreset(promise.preset, input, in));
  }
}

// Verifies the promises at a desk: the example three times over, alone and under typing,
// chatter, a television and mains hum, measured after its first time through, once the
// automatic gain and the noise tracking have heard speech and noise. Voice and pauses are the
// frames of the example's own, so typing in a pause still counts as pause; the noise must not
// come up against the voice, as the automatic gain and make-up would lift it.
TEST_F(PresetPromisesTest, EveryPresetKeepsItsPromisesAtADesk) {
  const Sound example = readSound(fs::path(VORLUND_EXAMPLES_DIR) / "noisy-voice.flac");
  ASSERT_EQ(1, example.info.channels);
  std::vector<float> reference;
  for (int r = 0; r < kDeskRepeats; ++r)
    reference.insert(reference.end(), example.samples.begin(), example.samples.end());
  for (const auto& [name, samples] : deskSet(reference, example.samples, example.info.samplerate)) {
    SCOPED_TRACE(name);
    const fs::path input = file(name + ".wav");
    writeSound(input, SF_FORMAT_WAV | SF_FORMAT_FLOAT, example.info.samplerate, 1, samples);
    const Sound in = readSound(input);
    for (const Promise& promise : kPromises) {
      SCOPED_TRACE(promise.preset);
      const Figures f = runPreset(promise.preset, input, in, reference, example.samples.size());
      checkPromise(promiseAt(promise, name), f);
    }
  }
}

}  // namespace
}  // namespace vorlund
