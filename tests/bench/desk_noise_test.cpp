// The desk noises as the quality figures and the presets' promises rely on them: each set at
// its stated level under the voice, the same on every run, the clicks ringing where keyboards
// ring and the chatter never falling silent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bench_support.h"
#include "desk_noise.h"

namespace vorlund::bench {
namespace {

double rmsDb(const std::vector<float>& x, std::size_t from, std::size_t count) {
  double sum = 0.0;
  for (std::size_t i = from; i < from + count; ++i) sum += static_cast<double>(x[i]) * x[i];
  return 10.0 * std::log10(sum / static_cast<double>(count) + 1e-30);
}

TEST(DeskNoiseTest, LevelsBandsAndContinuityAreAsStated) {
  constexpr double kRate = 48000.0;
  const std::vector<float> speech = speechLikeSignal(kRate, 10.0).speech;
  const std::vector<float> silence(speech.size(), 0.0f);
  const std::vector<DeskNoise> noises = deskNoises(speech.size(), kRate, speech);
  ASSERT_EQ(4u, noises.size());
  const std::vector<DeskNoise> again = deskNoises(speech.size(), kRate, speech);
  for (std::size_t n = 0; n < noises.size(); ++n) {
    SCOPED_TRACE(noises[n].name);
    EXPECT_EQ(noises[n].samples, again[n].samples) << "the same on every run";
    const std::vector<float> alone = withNoise(silence, noises[n], 0.1);
    EXPECT_NEAR(-20.0 - noises[n].belowVoiceDb, rmsDb(alone, 0, alone.size()), 0.01);
  }

  // Typing: a first difference (a rising tilt of 6 dB per octave) lifts a click ringing
  // between 1 and 5 kHz by more than it lifts the speech, whose power lies lower.
  const auto tilt = [&](const std::vector<float>& x) {
    std::vector<float> d(x.size(), 0.0f);
    for (std::size_t i = 1; i < x.size(); ++i) d[i] = x[i] - x[i - 1];
    return rmsDb(d, 0, d.size()) - rmsDb(x, 0, x.size());
  };
  EXPECT_GT(tilt(noises[0].samples), -12.0) << "energy mostly above 1 kHz";

  // Chatter: six talkers leave no 100 ms stretch more than 15 dB under the whole.
  const std::vector<float>& chatter = noises[1].samples;
  const auto frame = static_cast<std::size_t>(0.1 * kRate);
  double quietest = 0.0;
  for (std::size_t at = 0; at + frame <= chatter.size(); at += frame)
    quietest = std::min(quietest, rmsDb(chatter, at, frame) - rmsDb(chatter, 0, chatter.size()));
  EXPECT_GT(quietest, -15.0);
}

}  // namespace
}  // namespace vorlund::bench
