#include "engine/parameter_block.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/denormal_guard.h"
#include "record_helpers.h"

namespace vorlund {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Verifies that a zero record gets a valid header, and the rules of their own that the field
// table's ranges cannot say: the high-pass order snaps to 2 or 4 and the mains frequency to 50
// or 60 Hz, NaN and infinities included. (The ranges are swept in field_table_test.cpp.)
TEST(ParameterBlockTest, HeaderAndSnappingRules) {
  ParameterBlock r;
  std::memset(&r, 0, sizeof r);
  sanitise(r);
  EXPECT_EQ(0, std::memcmp(r.magic, "VRLD", 4));
  EXPECT_EQ(1u, r.version);
  EXPECT_EQ(524u, r.size);

  r = test::defaultRecord();
  const std::pair<std::int32_t, std::int32_t> orders[] = {{3, 2}, {4, 4}, {100, 4}, {-7, 2}};
  for (auto [given, expected] : orders) {
    r.highPassOrder = given;
    sanitise(r);
    EXPECT_EQ(expected, r.highPassOrder) << given;
  }
  const std::pair<float, float> bases[] = {{55.0f, 50.0f}, {55.5f, 60.0f}, {0.0f, 50.0f},
                                           {kNaN, 50.0f},  {kInf, 60.0f},  {-kInf, 50.0f}};
  for (auto [given, expected] : bases) {
    r.humBaseHz = given;
    sanitise(r);
    EXPECT_EQ(expected, r.humBaseHz) << given;
  }
}

// Verifies that the defaults survive sanitising byte for byte, that sanitising is idempotent on
// arbitrary bytes, and that the reserved bytes and a foreign magic are handled as records from
// the shared block are.
TEST(ParameterBlockTest, DefaultsStableIdempotentReservedKept) {
  const ParameterBlock d = test::defaultRecord();
  ParameterBlock r = d;
  sanitise(r);
  EXPECT_EQ(0, std::memcmp(&r, &d, sizeof r));
  EXPECT_EQ(0x3F333333u, std::bit_cast<std::uint32_t>(d.eqBands[0].q));
  EXPECT_EQ(0x3EB33333u, std::bit_cast<std::uint32_t>(d.deEsserAmount));
  EXPECT_EQ(0x3ECCCCCDu, std::bit_cast<std::uint32_t>(d.agcSpeed));

  std::uint32_t seed = 12345;
  for (int trial = 0; trial < 200; ++trial) {
    unsigned char bytes[sizeof(ParameterBlock)];
    for (unsigned char& b : bytes) {
      seed = seed * 1664525u + 1013904223u;
      b = static_cast<unsigned char>(seed >> 24);
    }
    std::memcpy(&r, bytes, sizeof r);
    sanitise(r);
    EXPECT_EQ(0, std::memcmp(r.reserved, bytes + 396, 128));
    EXPECT_EQ(0, std::memcmp(r.magic, "VRLD", 4));
    ParameterBlock again = r;
    sanitise(again);
    ASSERT_EQ(0, std::memcmp(&again, &r, sizeof r)) << "trial " << trial;
  }
}

// Verifies that subnormal values sanitise alike with and without denormals-are-zero (the
// real-time thread runs with it, LockForProcess without): they count as 0, so a positive one
// cannot pass an upper bound of 0 nor a negative one a lower bound of 0, and the result is
// idempotent on every thread.
TEST(ParameterBlockTest, SubnormalsSanitiseAlikeOnEveryThread) {
  const float tiny = std::numeric_limits<float>::denorm_min() * 917.0f;
  ParameterBlock r = test::defaultRecord();
  r.limiterCeilingDb = tiny;
  r.compThresholdDb = tiny;
  r.effectMix = -tiny;
  r.gateHoldMs = -tiny;
  r.eqBands[3].gainDb = tiny;
  ParameterBlock plain = r;
  ParameterBlock guarded = r;
  sanitise(plain);
  {
    DenormalGuard denormals;
    sanitise(guarded);
  }
  EXPECT_EQ(0, std::memcmp(&plain, &guarded, sizeof plain));
  for (float field : {plain.limiterCeilingDb, plain.compThresholdDb, plain.effectMix,
                      plain.gateHoldMs, plain.eqBands[3].gainDb})
    EXPECT_EQ(0u, std::bit_cast<std::uint32_t>(field));
  ParameterBlock again = guarded;
  sanitise(again);
  EXPECT_EQ(0, std::memcmp(&again, &guarded, sizeof again));
}

// Verifies the params.bin acceptance rule: length, magic and size matter, version does not.
TEST(ParameterBlockTest, FileAcceptance) {
  ParameterBlock r = test::defaultRecord();
  r.version = 7;
  EXPECT_TRUE(isAcceptableFileRecord(r, 524));
  EXPECT_FALSE(isAcceptableFileRecord(r, 500));
  r.size = 523;
  EXPECT_FALSE(isAcceptableFileRecord(r, 524));
  r = test::defaultRecord();
  r.magic[0] = 'X';
  EXPECT_FALSE(isAcceptableFileRecord(r, 524));
}

}  // namespace
}  // namespace vorlund
