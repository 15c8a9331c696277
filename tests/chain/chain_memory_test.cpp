// What one chain holds in memory, against the sizes its stages' definitions give each buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "chain/voice_chain.h"

namespace vorlund {
namespace {

constexpr std::size_t kFloat = sizeof(float);

// Buffer sizes as the definitions state them, in bytes.
struct Expected {
  std::size_t suppressor;   // window, frame, overlap-add, re, im (N each), output hop (N/4),
                            // eight per-bin arrays and eight ring rows (N/2 + 1 each)
  std::size_t transform;    // cosine and sine tables (N/2 each), bit reversal (N 32-bit)
  std::size_t factors;      // radix-4 factors: six rows of h for h = 4, 16, ... up to N/8,
                            // two rows of N/4 if N/2 is an odd power of two
  std::size_t voiceEffect;  // delay line (power of two >= 4 + 0.7 rate), combs and allpasses
  std::size_t limiter;      // delay and average ring (L each), minimum queue (L + 1 values
                            // and L + 1 32-bit time stamps)
};

Expected expectedAt(double rate) {
  const std::size_t n = rate <= 25000.0    ? 256
                        : rate <= 50000.0  ? 512
                        : rate <= 100000.0 ? 1024
                                           : 2048;
  const std::size_t bins = n / 2 + 1;
  Expected e{};
  e.suppressor = kFloat * (5 * n + n / 4 + 16 * bins);
  e.transform = kFloat * n + sizeof(std::int32_t) * n;
  std::size_t h = 4;
  for (; 4 * h <= n / 2; h *= 4) e.factors += kFloat * 6 * h;
  if (h == n / 4) e.factors += kFloat * 2 * h;
  std::size_t delay = 1;
  while (delay < 4 + static_cast<std::size_t>(0.7 * rate)) delay *= 2;
  std::size_t reverb = 0;
  for (int tuning : {1116, 1188, 1277, 1356, 556, 441})
    reverb += std::max<std::size_t>(16, static_cast<std::size_t>(rate / 44100.0 * tuning));
  e.voiceEffect = kFloat * (delay + reverb);
  const std::size_t lookahead = std::max(8, static_cast<int>(rate * 0.0015));
  e.limiter = kFloat * (3 * lookahead + 1) + sizeof(std::uint32_t) * (lookahead + 1);
  return e;
}

// Verifies that every buffer a prepared chain owns is exactly as large as its definition
// requires, at rates from the lowest to the highest, both on a fresh chain and on one prepared
// at 384 kHz first, so no capacity of a larger preparation is left behind (apart from the
// transform's cosine, sine and bit-reversal tables, which by their definition are resized in
// place and may keep it), and
// that the voice effect's delay line dominates the total.
TEST(ChainMemoryTest, BuffersAreExactlyAsLargeAsTheirDefinitionsRequire) {
  for (double rate : {8000.0, 22050.0, 44100.0, 48000.0, 96000.0, 192000.0, 384000.0}) {
    SCOPED_TRACE(rate);
    const Expected e = expectedAt(rate);
    VoiceChain fresh;
    fresh.prepare(rate);
    VoiceChain reused;
    reused.prepare(384000.0);
    reused.prepare(rate);
    for (const VoiceChain* chain : {&fresh, &reused}) {
      const ChainMemory m = chain->memoryUse();
      EXPECT_EQ(sizeof(VoiceChain), m.object);
      EXPECT_EQ(e.suppressor, m.suppressorBuffers);
      EXPECT_EQ(e.voiceEffect, m.voiceEffectBuffers);
      EXPECT_EQ(e.limiter, m.limiterBuffers);
      EXPECT_GT(m.voiceEffectBuffers, m.total() / 2);
    }
    EXPECT_EQ(e.transform + e.factors, fresh.memoryUse().transformTables);
    EXPECT_EQ(expectedAt(384000.0).transform + e.factors, reused.memoryUse().transformTables);
  }
}

}  // namespace
}  // namespace vorlund
