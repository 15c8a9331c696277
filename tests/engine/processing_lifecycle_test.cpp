#include "engine/processing_lifecycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "channel/parameter_channel.h"
#include "engine/stream_helpers.h"
#include "record_helpers.h"

namespace vorlund {
namespace {

using test::floatFormat;
using test::LockedStream;
using test::StreamConnections;

// Verifies the result of every refusal of LockForProcess, in the order of its checks; that a
// refused lock changes neither the format, nor the chain, nor the channel, nor the log; the
// accepted rate limits; and the lock/unlock state errors with their SDK values.
TEST(ProcessingLifecycleTest, EveryRefusalHasItsResult) {
  EXPECT_EQ(static_cast<HRESULT>(0x887D000Au), APOERR_APO_LOCKED);
  EXPECT_EQ(static_cast<HRESULT>(0x887D0006u), APOERR_ALREADY_UNLOCKED);
  EXPECT_EQ(static_cast<HRESULT>(0x887D0003u), APOERR_FORMAT_NOT_SUPPORTED);
  test::TempDataFolder temp;
  ProcessingLifecycle lifecycle;
  StreamConnections c(floatFormat(2, 44100.0f));
  APO_CONNECTION_DESCRIPTOR* ins[] = {&c.input, &c.input};
  APO_CONNECTION_DESCRIPTOR* outs[] = {&c.output, &c.output};
  APO_CONNECTION_DESCRIPTOR* nulls[] = {nullptr};
  EXPECT_EQ(E_INVALIDARG, lifecycle.lockForProcess(2, ins, 2, outs));
  EXPECT_EQ(E_INVALIDARG, lifecycle.lockForProcess(1, ins, 0, outs));
  EXPECT_EQ(E_INVALIDARG, lifecycle.lockForProcess(1, nullptr, 1, outs));
  EXPECT_EQ(E_INVALIDARG, lifecycle.lockForProcess(1, ins, 1, nullptr));
  EXPECT_EQ(E_INVALIDARG, lifecycle.lockForProcess(1, nulls, 1, outs));
  EXPECT_EQ(E_INVALIDARG, lifecycle.lockForProcess(1, ins, 1, nulls));
  c.input.pFormat = nullptr;
  EXPECT_EQ(E_INVALIDARG, lifecycle.lockForProcess(1, ins, 1, outs));
  const HRESULT deviceGone = static_cast<HRESULT>(0x88890004u);
  StreamConnections failing(floatFormat(2, 44100.0f), 480, 480, deviceGone);
  EXPECT_EQ(deviceGone, failing.lock(lifecycle));

  UNCOMPRESSEDAUDIOFORMAT pcm = floatFormat(2, 48000.0f);
  pcm.guidFormatType.Data1 = 1;  // KSDATAFORMAT_SUBTYPE_PCM
  pcm.dwBytesPerSampleContainer = 2;
  UNCOMPRESSEDAUDIOFORMAT wide = floatFormat(2, 48000.0f);
  wide.dwBytesPerSampleContainer = 8;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const UNCOMPRESSEDAUDIOFORMAT& format :
       {pcm, wide, floatFormat(0, 48000.0f), floatFormat(2, nan), floatFormat(2, 0.0f),
        floatFormat(2, -48000.0f), floatFormat(2, 1e30f), floatFormat(2, 7999.5f),
        floatFormat(2, 384000.05f)}) {
    StreamConnections bad(format);
    EXPECT_EQ(APOERR_FORMAT_NOT_SUPPORTED, bad.lock(lifecycle)) << format.fFramesPerSecond;
  }
  EXPECT_EQ(1u, lifecycle.frame().format().channels);
  EXPECT_EQ(48000.0f, lifecycle.frame().format().sampleRate);
  EXPECT_FALSE(lifecycle.frame().chain().isPrepared());
  EXPECT_EQ(nullptr, lifecycle.frame().channel().activeBlock());
  EXPECT_FALSE(test::fs::exists(temp.file("apo.log")));

  for (float rate : {8000.0f, 384000.0f}) {
    StreamConnections edge(floatFormat(1, rate));
    EXPECT_EQ(S_OK, edge.lock(lifecycle));
    EXPECT_EQ(APOERR_APO_LOCKED, edge.lock(lifecycle));
    EXPECT_EQ(static_cast<double>(rate), lifecycle.frame().chain().sampleRate());
    EXPECT_EQ(S_OK, lifecycle.unlockForProcess());
    EXPECT_EQ(APOERR_ALREADY_UNLOCKED, lifecycle.unlockForProcess());
  }
}

// Verifies a lock and its unlocks: the larger maximum frame count, a mono buffer 16 samples
// longer, the stream status and the Lock line; 100 bypassed blocks whose loudest sample is
// 0.5 give "-6.0 dB" in and out; a locked period without blocks gives 0 blocks and -200.0.
TEST(ProcessingLifecycleTest, LockAndUnlockLogTheirLines) {
  test::TempDataFolder temp;
  ParameterBlock bypassed = test::defaultRecord();
  bypassed.bypass = 1;
  test::writeBytes(temp.file("params.bin"), &bypassed, sizeof bypassed);
  ProcessingLifecycle lifecycle;
  StreamConnections c(floatFormat(2, 48000.0f), 480, 960);
  ASSERT_EQ(S_OK, c.lock(lifecycle));
  EXPECT_EQ(960u, lifecycle.frame().format().maxFrames);
  EXPECT_EQ(976u, lifecycle.frame().monoCapacity());
  const SharedBlock& block = *lifecycle.frame().channel().activeBlock();
  EXPECT_EQ(1, block.activeStreams);
  EXPECT_EQ(48000, block.streamSampleRate);
  EXPECT_EQ(2u, block.streamChannels);
  EXPECT_EQ(lifecycle.latencySamples(), block.latencySamples);
  for (int b = 0; b < 100; ++b) {
    std::vector<float> samples(960, 0.25f);
    if (b == 50) samples[100] = samples[101] = -0.5f;
    test::runBlock(lifecycle, samples, 480);
  }
  ASSERT_EQ(S_OK, lifecycle.unlockForProcess());
  EXPECT_EQ(0, block.activeStreams);
  ASSERT_EQ(S_OK, c.lock(lifecycle));
  ASSERT_EQ(S_OK, lifecycle.unlockForProcess());
  EXPECT_EQ((std::vector<std::string>{
                "LockForProcess: 48000 Hz, 2 ch, max 960 frames, shared=1, bypass=1, ns=1",
                "UnlockForProcess: 100 blocks, peak in -6.0 dB, out -6.0 dB",
                "LockForProcess: 48000 Hz, 2 ch, max 960 frames, shared=1, bypass=1, ns=1",
                "UnlockForProcess: 0 blocks, peak in -200.0 dB, out -200.0 dB"}),
            test::logMessages(temp.file("apo.log")));
}

// Verifies a new lock at another rate: the chain is prepared again for it, the statistics
// start over and the stream status shows the new format with one active stream.
TEST(ProcessingLifecycleTest, RelockPreparesForTheNewRate) {
  test::TempDataFolder temp;
  ProcessingLifecycle lifecycle;
  StreamConnections at44(floatFormat(2, 44100.0f), 441, 441);
  ASSERT_EQ(S_OK, at44.lock(lifecycle));
  std::vector<float> samples(882, 0.5f);
  test::runBlock(lifecycle, samples, 441);
  ASSERT_EQ(S_OK, lifecycle.unlockForProcess());
  StreamConnections at48(floatFormat(1, 48000.0f));
  ASSERT_EQ(S_OK, at48.lock(lifecycle));
  EXPECT_EQ(48000.0, lifecycle.frame().chain().sampleRate());
  EXPECT_EQ(0, lifecycle.frame().statistics().blockCount);
  EXPECT_EQ(0.0f, lifecycle.frame().statistics().peakInput);
  const SharedBlock& block = *lifecycle.frame().channel().activeBlock();
  EXPECT_EQ(48000, block.streamSampleRate);
  EXPECT_EQ(1u, block.streamChannels);
  EXPECT_EQ(1, block.activeStreams);
}

// Verifies destruction and the stream count: an object destroyed while locked writes the
// Unlock line once and leaves one stream fewer; a count the control application cleared
// while a stream ran stays at 0 when that stream ends.
TEST(ProcessingLifecycleTest, DestructionWhileLockedUnlocksOnce) {
  test::TempDataFolder temp;
  StreamConnections c(floatFormat(2, 48000.0f));
  ProcessingLifecycle survivor;
  ASSERT_EQ(S_OK, c.lock(survivor));
  SharedBlock& block = *survivor.frame().channel().activeBlock();
  {
    ProcessingLifecycle doomed;
    ASSERT_EQ(S_OK, c.lock(doomed));
    EXPECT_EQ(2, block.activeStreams);
  }
  EXPECT_EQ(1, block.activeStreams);
  sharedWord(block.activeStreams).store(0);
  ASSERT_EQ(S_OK, survivor.unlockForProcess());
  EXPECT_EQ(0, block.activeStreams);
  const std::vector<std::string> messages = test::logMessages(temp.file("apo.log"));
  ASSERT_EQ(4u, messages.size());
  EXPECT_EQ(0u, messages[2].rfind("UnlockForProcess: ", 0));
  EXPECT_EQ(0u, messages[3].rfind("UnlockForProcess: ", 0));
}

// Gain in dB that one block of a 1 kHz sine at -40 dBFS receives.
double blockGainDb(LockedStream& stream) {
  std::vector<float> out;
  const std::vector<float> in = stream.run(0.01f, &out);
  return test::toDb(test::rms(out) / test::rms(in));
}

// The gain once the chain's delay has passed: the last of three blocks.
double settledGainDb(LockedStream& stream) {
  blockGainDb(stream);
  blockGainDb(stream);
  return blockGainDb(stream);
}

// Verifies, on the signal, how records reach the chain: one published while streaming is in
// force from the very next block; an odd counter defers it until the counter is even; the
// same content under a new counter is applied again; a nonsense value is clamped; a record
// written while unlocked (even without moving the counter) is in force from the next lock,
// before any block; a relearn request made while unlocked is absorbed by the lock, and any
// later change of that counter, a decrease too, is taken up.
TEST(ProcessingLifecycleTest, RecordsReachTheChainByTheCounter) {
  LockedStream stream(1);
  SharedBlock& block = stream.block();
  const BlockFrame& frame = stream.lifecycle.frame();
  const float& inputGainDb = frame.chain().record().inputGainDb;

  // Only the gains shape the level, so the signal shows which record is in force.
  ParameterBlock record = test::defaultRecord();
  record.highPassEnabled = record.nsEnabled = record.plosiveEnabled = 0;
  record.eqEnabled = record.deEsserEnabled = record.compEnabled = record.limiterEnabled = 0;
  publishRecord(block, record);
  for (int b = 0; b < 10; ++b) blockGainDb(stream);
  EXPECT_NEAR(0.0, blockGainDb(stream), 0.1);

  record.inputGainDb = 12.0f;
  publishRecord(block, record);
  blockGainDb(stream);
  EXPECT_EQ(12.0f, inputGainDb);
  EXPECT_NEAR(12.0, settledGainDb(stream), 0.1);

  const std::uint32_t counter = loadChangeCounter(block);
  sharedWord(block.changeCounter).store(counter + 1);  // a writer half-way
  record.inputGainDb = -6.0f;
  std::memcpy(block.parameterArea, &record, sizeof record);
  EXPECT_NEAR(12.0, settledGainDb(stream), 0.1);
  sharedWord(block.changeCounter).store(counter + 2);
  blockGainDb(stream);
  EXPECT_EQ(-6.0f, inputGainDb);
  EXPECT_NEAR(-6.0, settledGainDb(stream), 0.1);
  publishRecord(block, record);
  blockGainDb(stream);
  EXPECT_EQ(counter + 4, frame.lastAppliedCounter());
  record.inputGainDb = 1000.0f;
  publishRecord(block, record);
  EXPECT_NEAR(30.0, settledGainDb(stream), 0.1);

  ASSERT_EQ(S_OK, stream.lifecycle.unlockForProcess());
  record.inputGainDb = 3.0f;
  std::memcpy(block.parameterArea, &record, sizeof record);
  sharedWord(block.relearnCounter).store(41);
  ASSERT_EQ(S_OK, stream.connections.lock(stream.lifecycle));
  EXPECT_EQ(3.0f, inputGainDb);
  EXPECT_EQ(41u, frame.lastRelearnCounter());
  EXPECT_NEAR(3.0, settledGainDb(stream), 0.1);
  sharedWord(block.relearnCounter).store(40);
  blockGainDb(stream);
  EXPECT_EQ(40u, frame.lastRelearnCounter());
}

// Verifies that one change of the relearn counter restarts the suppressor's learning exactly
// once: its frame count drops to the frames of one block, then grows again block after block.
TEST(ProcessingLifecycleTest, RelearnRestartsLearningOnce) {
  LockedStream stream(1);
  const NoiseSuppressor& suppressor = stream.lifecycle.frame().chain().suppressor();
  const int framesPerBlock = 480 / suppressor.hop() + 1;
  for (int b = 0; b < 50; ++b) stream.run(0.01f);
  const int learnt = suppressor.frameCount();
  ASSERT_GT(learnt, 40 * framesPerBlock / 2);
  sharedWord(stream.block().relearnCounter).fetch_add(1);
  stream.run(0.01f);
  EXPECT_LE(suppressor.frameCount(), framesPerBlock);
  for (int b = 0; b < 50; ++b) stream.run(0.01f);
  EXPECT_GE(suppressor.frameCount(), learnt - framesPerBlock);
}

}  // namespace
}  // namespace vorlund

namespace vorlund {
namespace {

// Every float field of `r`, and every band switched on.
void setEveryFloat(ParameterBlock& r, float v) {
  for (float* f : {&r.inputGainDb,     &r.outputGainDb, &r.highPassHz,      &r.humBaseHz,
                   &r.nsReductionDb,   &r.nsStrength,   &r.plosiveStrength, &r.gateThresholdDb,
                   &r.gateRangeDb,     &r.gateAttackMs, &r.gateHoldMs,      &r.gateReleaseMs,
                   &r.toneLow,         &r.tonePresence, &r.toneAir,         &r.deEsserHz,
                   &r.deEsserAmount,   &r.agcTargetDb,  &r.agcMaxGainDb,    &r.agcSpeed,
                   &r.compThresholdDb, &r.compRatio,    &r.compAttackMs,    &r.compReleaseMs,
                   &r.compKneeDb,      &r.compMakeupDb, &r.effectMix,       &r.effectParam,
                   &r.limiterCeilingDb})
    *f = v;
  for (EqBand& band : r.eqBands) {
    band.enabled = 1;
    band.freqHz = band.gainDb = band.q = v;
  }
}

// Verifies, at the lowest, a common and the highest rate, that sequences of valid records
// which drive kept filter state to diverge (one band switched every 10 ms block between two
// extreme designs; all-NaN and all-infinite records in turn, which sanitise to opposite ends of
// every range) never give a non-finite output sample nor one past the limit, that the stream
// carries the voice again in the second block after the switching stops, and that the
// recoveries are counted in the Unlock line.
TEST(ProcessingLifecycleTest, DivergingFilterStateNeverLatchesTheOutput) {
  struct Switching {
    float rate;
    float gainDb;
    float q;
    bool diverges;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (const Switching& s :
       {Switching{16000.0f, 24.0f, 1.0f, true}, Switching{48000.0f, 12.0f, 18.0f, true},
        Switching{384000.0f, 12.0f, 18.0f, false}}) {
    for (const bool extremeRecords : {false, true}) {
      SCOPED_TRACE(testing::Message() << s.rate << " Hz, extreme records " << extremeRecords);
      test::TempDataFolder temp;
      const auto frames = static_cast<UINT32>(s.rate / 100.0f);
      StreamConnections c(floatFormat(1, s.rate), frames, frames);
      ProcessingLifecycle lifecycle;
      ASSERT_EQ(S_OK, c.lock(lifecycle));
      SharedBlock& block = *lifecycle.frame().channel().activeBlock();
      ParameterBlock high, low;
      setDefaults(high);
      setDefaults(low);
      high.eqBands[0] = {1, static_cast<int>(FilterType::Peaking), 20000.0f, s.gainDb, s.q};
      low.eqBands[0] = {1, static_cast<int>(FilterType::Peaking), 20.0f, -s.gainDb, s.q};
      if (extremeRecords) {
        setEveryFloat(high, inf);
        setEveryFloat(low, nan);
      }
      const std::vector<float> voice = test::whiteNoise(static_cast<int>(frames), 7, 0.5f);
      std::vector<float> samples;
      int badBlocks = 0;
      // The first block whose output comes wholly from input after the first block of the
      // plain record, the chain's latency later: it carries signal (not the zeros or NaNs of a
      // latched chain); the dynamics stages, which took in the runaway peaks, are back to the
      // voice's level within half a second.
      const int latencyBlocks =
          (lifecycle.latencySamples() + static_cast<int>(frames) - 1) / static_cast<int>(frames);
      const int firstPlainBlock = 4001 + latencyBlocks;
      double firstPlainRms = 0.0;
      for (int b = 0; b <= 4050; ++b) {
        if (b < 4000) publishRecord(block, b % 2 == 0 ? high : low);
        if (b == 4000) {
          // Without the suppressor and the gate, which would rightly take the steady noise
          // away: what comes out is the chain's own response.
          ParameterBlock plain = test::defaultRecord();
          plain.nsEnabled = plain.gateEnabled = 0;
          publishRecord(block, plain);
        }
        samples = voice;
        test::runBlock(lifecycle, samples, frames);
        const bool bad = std::any_of(samples.begin(), samples.end(), [](float y) {
          return !std::isfinite(y) || std::fabs(y) > BlockFrame::kSampleLimit;
        });
        if (bad) ++badBlocks;
        if (b == firstPlainBlock) firstPlainRms = test::rms(samples);
      }
      EXPECT_EQ(0, badBlocks);
      EXPECT_GT(firstPlainRms, 1e-6);
      EXPECT_GT(test::rms(samples), 0.05);
      ASSERT_EQ(S_OK, lifecycle.unlockForProcess());
      const std::vector<std::string> lines = test::logMessages(temp.file("apo.log"));
      ASSERT_FALSE(lines.empty());
      const std::size_t at = lines.back().find(", recovered ");
      // At 384 kHz the switched band stays put: nothing to recover from, nothing counted.
      if (s.diverges || extremeRecords) {
        ASSERT_NE(std::string::npos, at) << lines.back();
        EXPECT_GT(std::stoi(lines.back().substr(at + 12)), 0);
      } else {
        EXPECT_EQ(std::string::npos, at) << lines.back();
      }
    }
  }
}

// Verifies that a stream locked with mute already set in the record is exactly silent from its
// first sample, even at 384 kHz, where a 10 ms fade outlasts the chain's latency.
TEST(ProcessingLifecycleTest, LockedMutedIsSilentFromTheFirstSample) {
  test::TempDataFolder temp;
  ParameterBlock muted = test::defaultRecord();
  muted.mute = 1;
  test::writeBytes(temp.file("params.bin"), &muted, sizeof muted);
  StreamConnections c(floatFormat(1, 384000.0f), 3840, 3840);
  ProcessingLifecycle lifecycle;
  ASSERT_EQ(S_OK, c.lock(lifecycle));
  for (int b = 0; b < 4; ++b) {
    std::vector<float> samples = test::sine(1000.0, 384000.0, 3840, 0.5);
    test::runBlock(lifecycle, samples, 3840);
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](float y) { return y == 0.0f; }))
        << "block " << b;
  }
}

}  // namespace
}  // namespace vorlund
