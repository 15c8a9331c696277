#include "engine/block_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "chain/vector_path.h"
#include "engine/stream_helpers.h"
#include "platform/environment.h"
#include "signal_helpers.h"

namespace vorlund {
namespace {

// A locked frame at 48 kHz with `channels` channels and blocks of up to `maxFrames` frames.
struct FrameFixture {
  explicit FrameFixture(std::uint32_t channels, std::uint32_t maxFrames = 480, bool bypass = true)
      : format{48000.0f, channels, maxFrames, maxFrames} {
    ParameterBlock record = frame.chain().record();
    record.bypass = bypass ? 1 : 0;
    frame.setRecord(record);
    frame.start(format);
  }

  // Runs one block in place over `samples` (interleaved) and returns the output connection.
  APO_CONNECTION_PROPERTY run(std::vector<float>& samples, std::uint32_t frames,
                              APO_BUFFER_FLAGS flags = BUFFER_VALID) {
    return test::runBlock(frame, samples, frames, flags);
  }

  FrameFormat format;
  BlockFrame frame;
};

// Verifies the fold rules: stereo averages, three channels multiply the sum by the float
// reciprocal of 3 (not a division), and every output channel gets the mono result.
TEST(BlockFrameTest, FoldsToMonoAndWritesEveryChannel) {
  FrameFixture stereo(2);
  std::vector<float> s = {0.5f, -0.25f, 0.5f, -0.25f};
  APO_CONNECTION_PROPERTY out = stereo.run(s, 2);
  EXPECT_EQ(2u, out.u32ValidFrameCount);
  EXPECT_EQ(BUFFER_VALID, out.u32BufferFlags);
  for (float x : s) EXPECT_EQ(0.125f, x);

  FrameFixture three(3);
  const float r = 1.0f / 3.0f;
  // Search for inputs where the reciprocal rule and a true division differ in the last bit.
  std::vector<float> frames;
  for (int i = 1; frames.size() < 30 && i < 100000; ++i) {
    const float a = 0.001f * i, b = 0.0007f * i, c = -0.0003f * i;
    const float sum = (a + b) + c;
    if (sum * r != sum / 3.0f && std::fabs(sum) < 1.0f) frames.insert(frames.end(), {a, b, c});
  }
  ASSERT_FALSE(frames.empty());
  std::vector<float> expected;
  for (std::size_t i = 0; i < frames.size(); i += 3)
    expected.push_back(((frames[i] + frames[i + 1]) + frames[i + 2]) * r);
  const std::uint32_t n = static_cast<std::uint32_t>(expected.size());
  three.run(frames, n);
  for (std::uint32_t k = 0; k < n; ++k)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(expected[k], frames[k * 3 + c]) << k;

  // Five channels cover the four-at-a-time path plus the remainder.
  FrameFixture five(5);
  std::vector<float> f5 = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
  five.run(f5, 1);
  EXPECT_EQ((((0.1f + 0.2f) + 0.3f) + 0.4f + 0.5f) * (1.0f / 5.0f), f5[4]);
}

// Verifies that the fold, which adds four and sixteen frames side by side, gives exactly what
// the plain rule gives frame by frame (channels added in order from 0, times the float
// reciprocal, limited): bit for bit at every channel count from 1 to 67 and at frame counts
// that leave every remainder of the wide steps, with out-of-range and non-finite samples mixed
// in, and every output channel carries the result.
TEST(BlockFrameTest, WideFoldEqualsPlainFoldBitForBit) {
  constexpr std::uint32_t kMaxFrames = 53;
  for (std::uint32_t channels = 1; channels <= 67; ++channels) {
    SCOPED_TRACE(channels);
    FrameFixture fixture(channels, kMaxFrames);
    for (std::uint32_t frames : {1u, 3u, 4u, 15u, 16u, 17u, 36u, kMaxFrames}) {
      std::vector<float> samples =
          test::whiteNoise(static_cast<int>(frames * channels), channels * 100 + frames, 1.5f);
      samples[frames * channels / 2] = 3000.0f;
      samples[frames * channels - 1] = std::numeric_limits<float>::quiet_NaN();
      std::vector<float> expected(frames);
      const float r = 1.0f / static_cast<float>(channels);
      for (std::uint32_t k = 0; k < frames; ++k) {
        float sum = 0.0f;
        for (std::uint32_t c = 0; c < channels; ++c) sum += samples[k * channels + c];
        const float mono = sum * r;
        expected[k] = !std::isfinite(mono)               ? 0.0f
                      : mono > BlockFrame::kSampleLimit  ? BlockFrame::kSampleLimit
                      : mono < -BlockFrame::kSampleLimit ? -BlockFrame::kSampleLimit
                                                         : mono;
      }
      fixture.run(samples, frames);
      for (std::uint32_t k = 0; k < frames; ++k)
        for (std::uint32_t c = 0; c < channels; ++c)
          ASSERT_EQ(std::bit_cast<std::uint32_t>(expected[k]),
                    std::bit_cast<std::uint32_t>(samples[k * channels + c]))
              << frames << " frames, frame " << k << " channel " << c;
    }
  }
}

// Verifies that mono input passes a bypassed chain bit for bit, that a silent flag feeds zeros
// whatever the buffer holds, and that the output is flagged valid.
TEST(BlockFrameTest, MonoBitExactAndSilentFlag) {
  FrameFixture mono(1);
  std::vector<float> s(480);
  for (int i = 0; i < 480; ++i) s[i] = std::sin(0.01f * i) * 0.9f;
  const std::vector<float> in = s;
  mono.run(s, 480);
  EXPECT_EQ(0, std::memcmp(in.data(), s.data(), s.size() * sizeof(float)));

  APO_CONNECTION_PROPERTY out = mono.run(s, 480, BUFFER_SILENT);
  EXPECT_EQ(BUFFER_VALID, out.u32BufferFlags);
  for (float x : s) ASSERT_EQ(0.0f, x);
  EXPECT_EQ(0.0f, mono.frame.chain().meters().inputPeak);
}

// Verifies that a block longer than the buffers is cut to the maximum frame count, and one
// longer than the output can hold to the output's own maximum; nothing past it is written.
TEST(BlockFrameTest, LongBlocksAreCut) {
  FrameFixture f(1, 64);
  std::vector<float> s(200, 0.5f);
  APO_CONNECTION_PROPERTY out = f.run(s, 200);
  EXPECT_EQ(64u, out.u32ValidFrameCount);

  f.frame.start({48000.0f, 1, 64, 32});
  std::vector<float> in(64, 0.25f), dst(40, -1.0f);
  APO_CONNECTION_PROPERTY ic{reinterpret_cast<UINT_PTR>(in.data()), 64, BUFFER_VALID, 0};
  APO_CONNECTION_PROPERTY oc{reinterpret_cast<UINT_PTR>(dst.data()), 0, BUFFER_INVALID, 0};
  APO_CONNECTION_PROPERTY* ins[] = {&ic};
  APO_CONNECTION_PROPERTY* outs[] = {&oc};
  f.frame.process(1, ins, 1, outs);
  EXPECT_EQ(32u, oc.u32ValidFrameCount);
  EXPECT_EQ(0.25f, dst[31]);
  EXPECT_EQ(-1.0f, dst[32]);
}

// Verifies that VORLUND_SIMD=sse2 in the process's environment puts a stream started afterwards
// on the SSE2 path, and that without it the stream takes the best supported path.
TEST(BlockFrameTest, VectorPathVariableForcesTheStreamsPath) {
  const std::optional<std::string> before = environmentVariable("VORLUND_SIMD");
  for (const char* value : {"sse2", static_cast<const char*>(nullptr)}) {
    ASSERT_TRUE(setEnvironmentVariable("VORLUND_SIMD", value));
    FrameFixture fixture(1);
    const bool sse2 = value != nullptr || !avx2Supported();
    EXPECT_EQ(sse2 ? VectorPath::Sse2 : VectorPath::Avx2,
              fixture.frame.chain().suppressor().vectorPath());
  }
  setEnvironmentVariable("VORLUND_SIMD", before ? before->c_str() : nullptr);
}

// Verifies the argument checks: nothing is touched without connections, with null pointers,
// or while unlocked; an empty block counts and reports zero valid frames.
TEST(BlockFrameTest, BadArgumentsChangeNothing) {
  FrameFixture f(1);
  std::vector<float> s(480, 0.5f);
  APO_CONNECTION_PROPERTY in{reinterpret_cast<UINT_PTR>(s.data()), 480, BUFFER_VALID, 0};
  APO_CONNECTION_PROPERTY out{0, 7, BUFFER_SILENT, 0};
  APO_CONNECTION_PROPERTY* ins[] = {&in};
  APO_CONNECTION_PROPERTY* outs[] = {&out};
  APO_CONNECTION_PROPERTY* nulls[] = {nullptr};
  f.frame.process(0, ins, 1, outs);
  f.frame.process(1, ins, 0, outs);
  f.frame.process(1, nullptr, 1, outs);
  f.frame.process(1, ins, 1, nulls);
  f.frame.process(1, ins, 1, outs);  // null output buffer
  EXPECT_EQ(7u, out.u32ValidFrameCount);
  EXPECT_EQ(BUFFER_SILENT, out.u32BufferFlags);
  EXPECT_EQ(0, f.frame.statistics().blockCount);

  out.pBuffer = in.pBuffer;
  f.frame.stop();
  f.frame.process(1, ins, 1, outs);
  EXPECT_EQ(0, f.frame.statistics().blockCount);
  f.frame.start(f.format);

  const float load = f.frame.statistics().processingLoad;
  APO_CONNECTION_PROPERTY empty = f.run(s, 0);
  EXPECT_EQ(1, f.frame.statistics().blockCount);
  EXPECT_EQ(0u, empty.u32ValidFrameCount);
  EXPECT_EQ(BUFFER_VALID, empty.u32BufferFlags);
  EXPECT_EQ(load, f.frame.statistics().processingLoad);
  f.run(s, 480);
  EXPECT_EQ(2, f.frame.statistics().blockCount);
  EXPECT_GT(f.frame.statistics().processingLoad, 0.0f);
  EXPECT_EQ(0.5f, f.frame.statistics().peakInput);
}

// Verifies the non-finite input rule: NaN and infinities become 0 and huge samples are held at
// +-1000 as the block is folded, so the processed output is finite once clean input resumes,
// and the meters stay finite.
TEST(BlockFrameTest, NonFiniteInputDoesNotPoisonTheChain) {
  for (std::uint32_t channels : {1u, 2u}) {
    SCOPED_TRACE(channels);
    FrameFixture f(channels, 480, false);
    std::vector<float> bad(480 * channels, 0.1f);
    bad[10] = std::numeric_limits<float>::quiet_NaN();
    bad[20 * channels] = std::numeric_limits<float>::infinity();
    bad[30 * channels] = -std::numeric_limits<float>::infinity();
    bad[40 * channels] = 1e30f;
    f.run(bad, 480);
    EXPECT_TRUE(std::isfinite(f.frame.chain().meters().outputPeak));
    EXPECT_TRUE(std::isfinite(f.frame.chain().meters().inputMeanSquare));
    EXPECT_LE(f.frame.chain().meters().inputPeak, 1000.0f);
    for (int b = 0; b < 20; ++b) {
      std::vector<float> clean(480 * channels, 0.0f);
      for (std::size_t i = 0; i < clean.size(); ++i) clean[i] = 0.2f * std::sin(0.05f * i);
      f.run(clean, 480);
      for (float x : clean) ASSERT_TRUE(std::isfinite(x));
    }
  }
}

// Verifies that a reset request is consumed by exactly one block and clears the chain state.
TEST(BlockFrameTest, ResetRequestConsumedByNextBlock) {
  FrameFixture f(1, 480, false);
  // Four blocks reach past the suppressor's and the limiter's delay.
  auto runFour = [&f] {
    std::vector<float> out;
    for (int b = 0; b < 4; ++b) {
      std::vector<float> block(480, 0.5f);
      f.run(block, 480);
      out.insert(out.end(), block.begin(), block.end());
    }
    return out;
  };
  const std::vector<float> first = runFour();
  ASSERT_NE(first, runFour());
  f.frame.requestReset();
  const std::vector<float> afterReset = runFour();
  EXPECT_FALSE(f.frame.resetPending());
  // After a reset the chain starts over: the first blocks after preparing repeat exactly.
  EXPECT_EQ(first, afterReset);
}

// Verifies that reset requests made on another thread while blocks run reach the real-time
// thread (run under ThreadSanitizer, this also proves the request needs no lock): after the
// last request the following blocks repeat a freshly prepared chain's output exactly.
TEST(BlockFrameThreadTest, ResetRequestedFromAnotherThread) {
  // Four blocks reach past the chain's delay.
  auto runFour = [](FrameFixture& f) {
    std::vector<float> out;
    for (int b = 0; b < 4; ++b) {
      std::vector<float> block(480);
      for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = 0.4f * std::sin(0.07f * static_cast<float>(i)) + 0.2f;
      f.run(block, 480);
      out.insert(out.end(), block.begin(), block.end());
    }
    return out;
  };
  FrameFixture fresh(1, 480, false);
  const std::vector<float> expected = runFour(fresh);
  ASSERT_TRUE(std::any_of(expected.begin(), expected.end(), [](float x) { return x != 0.0f; }));

  FrameFixture f(1, 480, false);
  std::atomic<bool> audioRunning{true};
  std::thread control([&] {
    while (audioRunning.load()) {
      f.frame.requestReset();
      std::this_thread::yield();
    }
    f.frame.requestReset();
  });
  for (int round = 0; round < 75; ++round) runFour(f);
  audioRunning = false;
  control.join();

  EXPECT_EQ(expected, runFour(f));
  EXPECT_FALSE(f.frame.resetPending());
}

}  // namespace
}  // namespace vorlund
