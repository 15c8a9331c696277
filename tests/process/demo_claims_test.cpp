// The main job's claims in README.md ("What to listen for"), checked against the figures the
// summary prints for each of its runs over the example recording.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

#include "process/process_harness.h"

namespace vorlund {
namespace {

// The input and output figures of a summary line ("  pause noise   -35.3 dBFS   -44.6 dBFS").
std::pair<double, double> figure(const std::string& summary, const std::string& label) {
  const std::size_t at = summary.find("\n  " + label + " ");
  EXPECT_NE(std::string::npos, at) << "no '" << label << "' in the summary:\n" << summary;
  if (at == std::string::npos) return {0.0, 0.0};
  std::istringstream line(summary.substr(at + 3 + label.size()));
  double in = 0.0, out = 0.0;
  std::string unit;
  line >> in >> unit >> out;
  return {in, out};
}

class DemoClaimsTest : public ProcessTest {
 protected:
  // The summary of the demo's run with `preset`.
  std::string summaryOf(const char* preset) {
    std::vector<std::string> arguments =
        files(fs::path(VORLUND_EXAMPLES_DIR) / "noisy-voice.flac", file("out.flac"));
    arguments.insert(arguments.end(), {"--align", "--preset", preset});
    const ToolRun result = run(arguments);
    EXPECT_EQ(0, result.exitCode) << result;
    return result.out;
  }
};

// Verifies each claim of "What to listen for" on the figures that back it: the default
// record quietens the pauses and keeps the voice's level but only lowers the hum (the
// high-pass takes the 50 Hz line down); podcast brings the voice up to its target without
// raising the pauses; streaming-fan takes the hum lines down into the background; no run
// lets a peak past -1 dBFS.
TEST_F(DemoClaimsTest, SummaryFiguresBackTheReadme) {
  const std::string byDefault = summaryOf("default");
  const auto [pauseIn, pauseOut] = figure(byDefault, "pause noise");
  EXPECT_GE(pauseIn - pauseOut, 6.0);
  const auto [voiceIn, voiceOut] = figure(byDefault, "voice");
  EXPECT_NEAR(voiceIn, voiceOut, 1.0);
  const auto [humIn, humOut] = figure(byDefault, "hum 50 Hz");
  EXPECT_GE(humIn - humOut, 10.0);

  const std::string podcast = summaryOf("podcast");
  EXPECT_NEAR(-16.0, figure(podcast, "voice").second, 1.0);
  const auto [podcastPauseIn, podcastPauseOut] = figure(podcast, "pause noise");
  EXPECT_LE(podcastPauseOut, podcastPauseIn);
  const auto [loudnessIn, loudnessOut] = figure(podcast, "loudness");
  EXPECT_GE(loudnessOut - loudnessIn, 4.0);

  const std::string fan = summaryOf("streaming-fan");
  const auto [fan50In, fan50Out] = figure(fan, "hum 50 Hz");
  EXPECT_GE(fan50In - fan50Out, 30.0);
  const auto [fan150In, fan150Out] = figure(fan, "hum 150 Hz");
  EXPECT_GE(fan150In - fan150Out, 15.0);
  const auto [fanPauseIn, fanPauseOut] = figure(fan, "pause noise");
  EXPECT_GE(fanPauseIn - fanPauseOut, 8.0);

  for (const std::string* summary : {&byDefault, &podcast, &fan})
    EXPECT_LE(figure(*summary, "peak").second, -1.0);
}

}  // namespace
}  // namespace vorlund
