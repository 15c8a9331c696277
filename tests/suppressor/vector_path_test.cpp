// The two vector paths against each other: the transform at every size and the whole chain on
// the records that run the vector passes give the same bits on SSE2 and on AVX2. Skipped where
// the processor (or, under Wine, the host) has no AVX2.
#include "chain/vector_path.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "chain/biquad.h"
#include "chain/lane_kernels.h"
#include "chain/voice_chain.h"
#include "signal_helpers.h"
#include "suppressor/fft.h"

namespace vorlund {
namespace {

void expectSameBits(const std::vector<float>& a, const std::vector<float>& b, const char* what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (std::size_t i = 0; i < a.size(); ++i)
    ASSERT_EQ(0, std::memcmp(&a[i], &b[i], sizeof(float))) << what << ", entry " << i;
}

// A forced path for the scope of the object, as VORLUND_SIMD forces it; none afterwards.
struct ForcedPath {
  explicit ForcedPath(VectorPath path) { forceVectorPath(path); }
  ~ForcedPath() { forceVectorPath(std::nullopt); }
};

// Verifies every transform size from 1 to 4096 points, whose passes take the narrow and the
// wide lanes and the scalar edges in different mixes: the complex transform both ways and the
// real-input pair give the same bits on both paths; a forced path is the one chosen.
TEST(VectorPathTest, TransformsAgreeAtEverySize) {
  if (!avx2Supported()) GTEST_SKIP() << "no AVX2 on this processor";
  for (VectorPath path : {VectorPath::Sse2, VectorPath::Avx2}) {
    ForcedPath forced(path);
    EXPECT_EQ(path, chosenVectorPath());
  }
  for (int n = 1; n <= 4096; n *= 2) {
    Fft narrow;
    Fft wide;
    narrow.setup(n, VectorPath::Sse2);
    wide.setup(n, VectorPath::Avx2);
    const std::vector<float> re = test::whiteNoise(n, 5u + n);
    const std::vector<float> im = test::whiteNoise(n, 7u + n);
    for (bool inverse : {false, true}) {
      std::vector<float> re1 = re, im1 = im, re2 = re, im2 = im;
      narrow.transform(re1.data(), im1.data(), inverse);
      wide.transform(re2.data(), im2.data(), inverse);
      expectSameBits(re1, re2, "transform, real parts");
      expectSameBits(im1, im2, "transform, imaginary parts");
    }
    std::vector<float> re1 = re, im1(n), re2 = re, im2(n);
    narrow.forwardReal(re1.data(), im1.data());
    wide.forwardReal(re2.data(), im2.data());
    expectSameBits(re1, re2, "real forward, real parts");
    expectSameBits(im1, im2, "real forward, imaginary parts");
    narrow.inverseReal(re1.data(), im1.data());
    wide.inverseReal(re2.data(), im2.data());
    expectSameBits(re1, re2, "real inverse");
  }
}

// Verifies the per-sample stages' passes on both paths over every kind of sample (zeros,
// denormals, both signs, the edges of the compressor's quiet level, infinities, NaN) and gains
// from -200 to +60 dB, at an odd count, which leaves a scalar tail on each: the compressor's
// levels and gained samples and the saturation give the same bits.
TEST(VectorPathTest, LanePassesAgreeOnEveryKindOfSample) {
  if (!avx2Supported()) GTEST_SKIP() << "no AVX2 on this processor";
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> x = {0.0f,    -0.0f,     1e-40f,
                          -1e-40f, 1e-6f,     1.0000001e-6f,
                          inf,     -inf,      std::numeric_limits<float>::quiet_NaN(),
                          0.01f,   0.0099999f};
  for (float m = 1e-9f; m < 40.0f; m *= 1.013f) x.insert(x.end(), {m, -m});
  const std::vector<float> gainsDb = [&] {
    std::vector<float> db(x.size());
    for (std::size_t i = 0; i < db.size(); ++i) db[i] = -200.0f + 260.0f * i / db.size();
    return db;
  }();
  const LaneKernels* kernels[2] = {&laneKernels(VectorPath::Sse2), &laneKernels(VectorPath::Avx2)};
  std::vector<float> levels[2];
  std::vector<float> gained[2];
  std::vector<float> saturated[2];
  for (int p = 0; p < 2; ++p) {
    levels[p].resize(x.size());
    kernels[p]->levels(x.data(), levels[p].data(), static_cast<int>(x.size()), -22.0f, 0.01f);
    gained[p] = x;
    kernels[p]->applyGains(gained[p].data(), gainsDb.data(), static_cast<int>(x.size()));
    saturated[p] = x;
    kernels[p]->saturate(saturated[p].data(), static_cast<int>(x.size()), 3.7f, 0.9f, 0.6f);
  }
  expectSameBits(levels[0], levels[1], "levels");
  expectSameBits(gained[0], gained[1], "gained samples");
  expectSameBits(saturated[0], saturated[1], "saturated samples");
}

// Verifies the cascade pass on each path at every section count it takes, over blocks shorter
// than, as long as and longer than the skew, state carried from block to block: each output
// sample and each section's state are what the sections give one sample at a time.
TEST(VectorPathTest, CascadeMatchesSectionsOneByOne) {
  const std::vector<float> in = test::variedSignal(48000.0, 0.05, 5);
  for (VectorPath path : {VectorPath::Sse2, VectorPath::Avx2}) {
    if (path == VectorPath::Avx2 && !avx2Supported()) continue;
    for (int n = 0; n <= kMaxKernelCascade; ++n) {
      SCOPED_TRACE(testing::Message()
                   << "path " << static_cast<int>(path) << ", " << n << " sections");
      BiquadSection kernel[kMaxKernelCascade], plain[kMaxKernelCascade];
      BiquadSection* list[kMaxKernelCascade];
      for (int k = 0; k < n; ++k) {
        designBiquad(kernel[k], k % 2 ? FilterType::Peaking : FilterType::HighShelf, 48000.0,
                     90.0 * (k + 1) * (k + 1), k % 3 ? 6.0 : -9.0, 0.7 + 0.3 * k);
        plain[k] = kernel[k];
        list[k] = &kernel[k];
      }
      std::vector<float> out = in, expected = in;
      std::size_t at = 0;
      for (int length : {1, n - 1, n, n + 1, 97, 480}) {
        if (length < 0 || at + length > in.size()) continue;
        laneKernels(path).cascade(list, n, out.data() + at, length);
        at += length;
      }
      out.resize(at);
      expected.resize(at);
      for (float& x : expected)
        for (int k = 0; k < n; ++k) x = plain[k].process(x);
      expectSameBits(out, expected, "cascade output");
      for (int k = 0; k < n; ++k) {
        EXPECT_EQ(0, std::memcmp(&kernel[k], &plain[k], sizeof(BiquadSection))) << "section " << k;
      }
    }
  }
}

// Verifies the chain on both paths, prepared with each forced, at rates that
// give each frame size (256 to 2048 points): the factory record, noise suppression alone and
// every stage on with each voice effect mode give the same samples and meters.
TEST(VectorPathTest, ChainAgreesOnEveryRecord) {
  if (!avx2Supported()) GTEST_SKIP() << "no AVX2 on this processor";
  std::vector<std::function<void(ParameterBlock&)>> records = {
      [](ParameterBlock&) {},
      [](ParameterBlock& r) {
        r.highPassEnabled = r.plosiveEnabled = r.deEsserEnabled = r.compEnabled = 0;
        r.eqEnabled = r.limiterEnabled = 0;
      }};
  for (int mode = 0; mode <= static_cast<int>(kLastVoiceEffectMode); ++mode) {
    records.push_back([mode](ParameterBlock& r) {
      r.highPassOrder = 4;
      r.humFilterEnabled = r.gateEnabled = r.agcEnabled = 1;
      for (EqBand& band : r.eqBands) {
        band.enabled = 1;
        band.gainDb = 3.0f;
      }
      r.effectMode = mode;
    });
  }
  for (double rate : {16000.0, 48000.0, 96000.0, 192000.0}) {
    const std::vector<float> in = test::variedSignal(rate, 0.8, 21);
    const int block = static_cast<int>(rate / 100);
    for (std::size_t r = 0; r < records.size(); ++r) {
      VoiceChain chains[2];
      const VectorPath paths[2] = {VectorPath::Sse2, VectorPath::Avx2};
      std::vector<float> outs[2];
      ChainMeters meters[2];
      for (int p = 0; p < 2; ++p) {
        ParameterBlock record = chains[p].record();
        records[r](record);
        chains[p].configure(record);
        {
          ForcedPath forced(paths[p]);
          chains[p].prepare(rate);
        }
        outs[p] = in;
        for (std::size_t i = 0; i + block <= in.size(); i += block)
          chains[p].process(outs[p].data() + i, block);
        meters[p] = chains[p].meters();
        ASSERT_EQ(p == 0 ? VectorPath::Sse2 : VectorPath::Avx2,
                  chains[p].suppressor().vectorPath());
      }
      SCOPED_TRACE(testing::Message() << "rate " << rate << ", record " << r);
      expectSameBits(outs[0], outs[1], "chain output");
      // Every field; the padding after the last one holds whatever the stack held.
      constexpr std::size_t kMeterBytes = offsetof(ChainMeters, voiceActive) + sizeof(bool);
      EXPECT_EQ(0, std::memcmp(&meters[0], &meters[1], kMeterBytes));
    }
  }
}

}  // namespace
}  // namespace vorlund
