#include "engine/shared_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "channel/parameter_channel.h"
#include "engine/checksummed_record.h"
#include "engine/stream_helpers.h"
#include "platform/system.h"
#include "record_helpers.h"

namespace vorlund {
namespace {

// Verifies the protocol against a concurrent writer thread: every snapshot that succeeds is
// one whole record, never a mix of two publications, while the writer never pauses.
TEST(SharedBlockThreadTest, ConcurrentWriterNeverYieldsTornSnapshot) {
  SharedBlock block{};
  publishRecord(block, test::checksummedRecord(0));
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (std::uint32_t sequence = 1; !stop.load(std::memory_order_relaxed); ++sequence)
      publishRecord(block, test::checksummedRecord(sequence));
  });
  int taken = 0, torn = 0;
  std::set<std::uint32_t> sequences;
  ParameterBlock copy;
  const std::uint64_t deadline = tickCount64() + 60000;
  while ((taken < 20000 || sequences.size() < 100) && tickCount64() < deadline) {
    std::uint32_t counter = 0;
    if (!readSnapshot(block, copy, counter)) continue;
    ++taken;
    if (!test::isWholeRecord(copy)) ++torn;
    sequences.insert(test::recordSequence(copy));
  }
  stop = true;
  writer.join();
  EXPECT_EQ(0, torn);
  EXPECT_GE(sequences.size(), 100u) << "the writer hardly overlapped the reader";
}

// Verifies what each block publishes: a bypassed full-scale sine shows 0 dB peak and -3.01 dB
// RMS in and out, gain meters at 0 dB, bypassActive 1, the frame's load, one more processed
// block and a fresh tick; silence publishes -200 and leaves the reserved bytes zero.
TEST(SharedBlockTest, BlocksPublishMeters) {
  test::LockedStream stream(2);
  ParameterBlock bypassed = test::defaultRecord();
  bypassed.bypass = 1;
  publishRecord(stream.block(), bypassed);
  const std::uint64_t tickBefore = tickCount64();
  stream.run(1.0f);
  stream.run(1.0f);
  const SharedBlock& block = stream.block();
  EXPECT_EQ(2u, block.processedBlocks);
  EXPECT_GE(block.lastBlockTick, tickBefore);
  EXPECT_LE(block.lastBlockTick, tickCount64());
  EXPECT_NEAR(0.0f, block.inputPeakDb, 1e-5f);
  EXPECT_NEAR(-3.0103f, block.inputRmsDb, 1e-3f);
  EXPECT_EQ(block.inputPeakDb, block.outputPeakDb);
  EXPECT_EQ(block.inputRmsDb, block.outputRmsDb);
  for (float gainDb : {block.gateGainDb, block.limiterGainDb, block.deEsserGainDb,
                       block.plosiveGainDb, block.compressorReductionDb, block.noiseSuppressionDb})
    EXPECT_EQ(0.0f, gainDb);
  EXPECT_EQ(1u, block.bypassActive);
  EXPECT_EQ(stream.lifecycle.frame().statistics().processingLoad, block.processingLoad);
  EXPECT_GT(block.processingLoad, 0.0f);

  stream.run(0.0f);
  EXPECT_EQ(3u, block.processedBlocks);
  EXPECT_EQ(-200.0f, block.inputPeakDb);
  EXPECT_EQ(-200.0f, block.outputRmsDb);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
  EXPECT_TRUE(std::all_of(bytes + 636, bytes + 704, [](unsigned char b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(bytes + 708, bytes + 768, [](unsigned char b) { return b == 0; }));
}

// Verifies the protocol across processes: a control program in another process hammers
// checksummed records and relearn requests into shared.bin while the stream runs, and checks
// the stream status and meters it reads back; the stream never applies a torn record, takes
// up the relearn requests and ends on the program's last record.
TEST(SharedBlockThreadTest, ControlProgramInAnotherProcess) {
  test::LockedStream stream(2);
  const std::string command = test::fs::path(VORLUND_RECORD_WRITER).make_preferred().string() +
                              " " + test::toFsPath(sharedFilePath()).string() + " 48000 2 2000";
  std::atomic<bool> done{false};
  int status = -1;
  std::thread control([&] {
    status = std::system(command.c_str());
    done = true;
  });
  const BlockFrame& frame = stream.lifecycle.frame();
  std::uint32_t applied = frame.lastAppliedCounter(), relearn = frame.lastRelearnCounter();
  int changes = 0, torn = 0, relearns = 0;
  const std::uint64_t deadline = tickCount64() + 120000;
  while (!done && tickCount64() < deadline) {
    stream.run(0.25f);
    relearns += frame.lastRelearnCounter() != relearn;
    relearn = frame.lastRelearnCounter();
    if (frame.lastAppliedCounter() == applied) continue;
    applied = frame.lastAppliedCounter();
    ++changes;
    torn += !test::isWholeRecord(frame.chain().record());
  }
  control.join();
  ASSERT_EQ(0, status) << command;
  stream.run(0.25f);
  EXPECT_EQ(0, torn);
  EXPECT_GT(changes, 10);
  EXPECT_GT(relearns, 0);
  ParameterBlock last;
  std::uint32_t counter = 0;
  ASSERT_TRUE(readSnapshot(stream.block(), last, counter));
  EXPECT_EQ(counter, frame.lastAppliedCounter());
  EXPECT_EQ(0, std::memcmp(&last, &frame.chain().record(), sizeof last));
}

}  // namespace
}  // namespace vorlund
