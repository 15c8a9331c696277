#include "common/loudness_meter.h"

#include <gtest/gtest.h>

#include <vector>

#include "signal_helpers.h"

namespace vorlund {
namespace {

// Verifies the BS.1770 reference points: a 997 Hz sine of peak 0.1 (-20 dBFS) on one channel
// reads -23.0 LUFS at 48 and 44.1 kHz; the same on two channels reads 3 LU louder; fed in
// uneven pieces it reads the same; and a sound shorter than one 400 ms block has no loudness.
TEST(LoudnessMeterTest, SineReadsItsReferenceLoudness) {
  for (double rate : {48000.0, 44100.0}) {
    SCOPED_TRACE(rate);
    const std::vector<float> tone = test::sine(997.0, rate, static_cast<int>(rate * 5), 0.1);
    LoudnessMeter mono(rate, 1);
    for (std::size_t at = 0; at < tone.size(); at += 731)
      mono.add(tone.data() + at, std::min<std::size_t>(731, tone.size() - at));
    EXPECT_NEAR(-23.0, mono.integratedLufs(), 0.05);

    std::vector<float> stereo(tone.size() * 2);
    for (std::size_t i = 0; i < tone.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = tone[i];
    LoudnessMeter both(rate, 2);
    both.add(stereo.data(), tone.size());
    EXPECT_NEAR(-20.0, both.integratedLufs(), 0.05);

    LoudnessMeter brief(rate, 1);
    brief.add(tone.data(), static_cast<std::size_t>(rate * 0.35));
    EXPECT_EQ(LoudnessMeter::kNoLoudness, brief.integratedLufs());
  }
}

// Verifies both gates: 10 s of tone at -23 LUFS followed by 10 s at 40 dB less (dropped by
// the relative gate) still reads -23.0 (within the pull of the few blocks that straddle the
// step) where an ungated mean would read 3 LU lower, and a tone below -70 LUFS alone has no
// loudness at all.
TEST(LoudnessMeterTest, GatesLeaveQuietPassagesOut) {
  constexpr double kRate = 48000.0;
  const std::vector<float> loud = test::sine(997.0, kRate, 480000, 0.1);
  const std::vector<float> quiet = test::sine(997.0, kRate, 480000, 0.001);
  LoudnessMeter meter(kRate, 1);
  meter.add(loud.data(), loud.size());
  meter.add(quiet.data(), quiet.size());
  EXPECT_NEAR(-23.0, meter.integratedLufs(), 0.15);

  const std::vector<float> faint = test::sine(997.0, kRate, 480000, 0.00005);  // -89 LUFS
  LoudnessMeter silentMeter(kRate, 1);
  silentMeter.add(faint.data(), faint.size());
  EXPECT_EQ(LoudnessMeter::kNoLoudness, silentMeter.integratedLufs());
}

}  // namespace
}  // namespace vorlund
