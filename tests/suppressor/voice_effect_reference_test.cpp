// The voice effect, whose saturation modes run in passes over chunks of the block, against its
// sample-by-sample form (tests/reference).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "reference/reference_voice_effect.h"
#include "signal_helpers.h"
#include "suppressor/voice_effect.h"

namespace vorlund {
namespace {

// Verifies that every mode computes exactly what the sample-by-sample form computes, bit for
// bit, through blocks shorter and longer than the saturation modes' chunks, mode changes while
// active and while the mix is 0, and changes of mix and character under running state.
TEST(VoiceEffectReferenceTest, EveryModeMatchesSampleBySampleFormBitForBit) {
  struct Setting {
    int mode;
    float mix;
    float param;
  };
  const Setting settings[] = {{2, 0.5f, 0.5f}, {3, 1.0f, 0.0f}, {2, 1.0f, 1.0f}, {3, 0.3f, 1.0f},
                              {0, 0.5f, 0.5f}, {2, 0.0f, 0.2f}, {2, 0.7f, 0.2f}, {1, 0.5f, 0.9f},
                              {4, 0.6f, 0.1f}, {5, 0.5f, 0.7f}, {6, 0.8f, 0.4f}, {3, 0.5f, 0.5f}};
  const int blockLengths[] = {480, 1, 255, 256, 257, 700, 3};
  for (double rate : {8000.0, 48000.0, 384000.0}) {
    SCOPED_TRACE(rate);
    const std::vector<float> input = test::variedSignal(rate, 6.0, 21u);
    VoiceEffect fast;
    reference::ReferenceVoiceEffect plain;
    fast.prepare(rate);
    plain.prepare(rate);
    std::vector<float> a = input, b = input;
    std::size_t at = 0;
    for (int block = 0; at < input.size(); ++block) {
      if (block % 25 == 0) {
        const Setting& s = settings[(block / 25) % std::size(settings)];
        const VoiceEffect::Settings effect{static_cast<VoiceEffectMode>(s.mode), s.mix, s.param};
        fast.configure(effect);
        plain.configure(effect);
      }
      const int count = static_cast<int>(
          std::min<std::size_t>(blockLengths[block % std::size(blockLengths)], input.size() - at));
      fast.process(a.data() + at, count);
      plain.process(b.data() + at, count);
      at += count;
    }
    for (std::size_t i = 0; i < a.size(); ++i)
      ASSERT_EQ(std::bit_cast<std::uint32_t>(b[i]), std::bit_cast<std::uint32_t>(a[i]))
          << "sample " << i << ": " << a[i] << " vs " << b[i];
  }
}

}  // namespace
}  // namespace vorlund
