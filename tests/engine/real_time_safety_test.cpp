// Counts every heap allocation of this test program (counting_allocator.h), and makes a chosen
// one fail, to show that the real-time path never allocates and that an
// allocation failure inside LockForProcess is survived.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "channel/parameter_channel.h"
#include "counting_allocator.h"
#include "engine/stream_helpers.h"
#include "platform/system.h"

namespace vorlund {
namespace {

using test::allocationCount;
using test::failCountdown;
using test::failureHappened;

// Verifies the real-time rules over 10,000 blocks that include record changes, reset
// requests and relearn requests: no heap allocation at all and no read or write system call
// (where the system keeps count), while every request was really taken up. Building the
// object allocates nothing beyond itself.
TEST(RealTimeSafetyTest, TenThousandBlocksWithoutAllocationOrFileAccess) {
  test::TempDataFolder temp;
  const long beforeBuild = allocationCount.load();
  auto* lifecycle = new ProcessingLifecycle;
  EXPECT_EQ(1, allocationCount.load() - beforeBuild);
  test::StreamConnections c(test::floatFormat(2, 48000.0f));
  ASSERT_EQ(S_OK, c.lock(*lifecycle));
  SharedBlock& block = *lifecycle->frame().channel().activeBlock();
  const BlockFrame& frame = lifecycle->frame();
  // The defaults, then every stage switched on with each voice-effect mode in turn.
  constexpr int kRecords = 8;
  ParameterBlock records[kRecords];
  for (int r = 0; r < kRecords; ++r) {
    setDefaults(records[r]);
    if (r == 0) continue;
    records[r].inputGainDb = 6.0f;
    records[r].humFilterEnabled = records[r].gateEnabled = records[r].agcEnabled = 1;
    records[r].highPassOrder = 4;
    records[r].effectMode = r - 1;
    for (EqBand& band : records[r].eqBands) band.gainDb = 3.0f;
    records[r].toneAir = 0.5f;
  }
  const std::vector<float> stereo(960, 0.25f);
  std::vector<float> samples = stereo;
  APO_CONNECTION_PROPERTY in{reinterpret_cast<UINT_PTR>(samples.data()), 480, BUFFER_VALID, 0};
  APO_CONNECTION_PROPERTY out = in;
  APO_CONNECTION_PROPERTY* ins[] = {&in};
  APO_CONNECTION_PROPERTY* outs[] = {&out};

  std::uint64_t io0 = 0, io1 = 0, io2 = 0;
  const bool ioCounted = processIoOperations(io0) && processIoOperations(io1);
  int applied = 0, relearned = 0, resets = 0;
  const long before = allocationCount.load();
  for (int b = 0; b < 10000; ++b) {
    if (b % 100 == 50) publishRecord(block, records[(b / 100) % kRecords]);
    if (b % 1000 == 10) lifecycle->requestReset();
    if (b % 1000 == 20) sharedWord(block.relearnCounter).fetch_add(1);
    const std::uint32_t appliedBefore = frame.lastAppliedCounter();
    const std::uint32_t relearnBefore = frame.lastRelearnCounter();
    const bool resetPending = frame.resetPending();
    std::copy(stereo.begin(), stereo.end(), samples.begin());
    // Now and then a short block, as a driver may deliver.
    in.u32ValidFrameCount = b % 7 == 0 ? 100 + b % 300 : 480;
    lifecycle->process(1, ins, 1, outs);
    applied += frame.lastAppliedCounter() != appliedBefore;
    relearned += frame.lastRelearnCounter() != relearnBefore;
    resets += resetPending && !frame.resetPending();
  }
  const long allocations = allocationCount.load() - before;
  if (ioCounted) processIoOperations(io2);

  EXPECT_EQ(0, allocations);
  if (ioCounted) {
    EXPECT_EQ(io1 - io0, io2 - io1) << "read or write system calls on the real-time path";
  } else {
    std::printf("[ NOTE     ] no I/O operation count on this system; allocations only\n");
  }
  EXPECT_EQ(100, applied);
  EXPECT_EQ(10, relearned);
  EXPECT_EQ(10, resets);
  EXPECT_EQ(10000u, block.processedBlocks);
  delete lifecycle;
}

// Verifies allocation failures inside LockForProcess, injected at each allocation in turn: a
// throwing one ends the lock with E_OUTOFMEMORY, unlocked and without a log line, and the
// object then locks and runs; the fallback block's non-throwing one failing leaves a
// channel-less stream that runs.
TEST(RealTimeSafetyTest, AllocationFailureInLockIsSurvived) {
  for (bool shared : {true, false}) {
    test::TempDataFolder temp(shared);
    int outOfMemory = 0, channelLess = 0;
    for (long failAt = 1; failAt < 100; ++failAt) {
      ProcessingLifecycle lifecycle;
      test::StreamConnections c(test::floatFormat(2, 48000.0f), 480, 960);
      failureHappened = false;
      failCountdown = failAt;
      const HRESULT hr = c.lock(lifecycle);
      failCountdown = 0;
      if (!failureHappened) break;
      if (hr == E_OUTOFMEMORY) {
        ++outOfMemory;
        EXPECT_FALSE(lifecycle.frame().isLocked());
        EXPECT_EQ(960u, lifecycle.frame().format().maxFrames);
        EXPECT_FALSE(test::fs::exists(temp.file("apo.log")));
        ASSERT_EQ(S_OK, c.lock(lifecycle));
      } else {
        ASSERT_EQ(S_OK, hr) << failAt;
        channelLess += lifecycle.frame().channel().activeBlock() == nullptr;
      }
      std::vector<float> samples(960, 0.5f);
      EXPECT_EQ(480u, test::runBlock(lifecycle, samples, 480).u32ValidFrameCount);
      EXPECT_EQ(S_OK, lifecycle.unlockForProcess());
      test::fs::remove(temp.file("apo.log"));
    }
    EXPECT_GT(outOfMemory, 0) << shared;
    EXPECT_EQ(shared ? 0 : 1, channelLess);
  }
}

}  // namespace
}  // namespace vorlund
