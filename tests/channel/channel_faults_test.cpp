// Faults of the data folder while a stream runs: the folder missing at lock, a parameter file
// caught half-written, the watched folder deleted, the log unwritable. In each the stream goes
// on and the record in force is kept until a complete, valid record replaces it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/processing_lifecycle.h"
#include "engine/stream_connections.h"
#include "engine/stream_helpers.h"
#include "platform/system.h"
#include "record_helpers.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

using test::eventually;
using test::recordWithGain;
using test::sameRecord;
using test::TempDataFolder;
using test::writeRecordFile;

constexpr std::uint32_t kFrames = 480;

// A mono stream at 48 kHz on whatever the data folder holds at the time of the lock.
struct Stream {
  Stream() { EXPECT_EQ(S_OK, connections.lock(lifecycle)); }
  ~Stream() { EXPECT_EQ(S_OK, lifecycle.unlockForProcess()); }
  // Runs one block of a quiet tone; returns the record in force after it.
  const ParameterBlock& block() {
    std::vector<float> samples = test::sine(1000.0, 48000.0, kFrames, 0.1f);
    test::runBlock(lifecycle, samples, kFrames);
    for (float x : samples) EXPECT_TRUE(std::isfinite(x));
    return lifecycle.frame().chain().record();
  }
  bool reachesGain(float gainDb) {
    return eventually([&] { return block().inputGainDb == gainDb; });
  }

  test::StreamConnections connections{test::floatFormat(1, 48000.0f), kFrames, kFrames};
  ProcessingLifecycle lifecycle;
};

// Verifies a stream locked while the data folder is missing: it runs on the defaults in
// fallback mode, and once the folder and a valid params.bin appear their record takes over.
TEST(ChannelFaultThreadTest, DataFolderCreatedDuringTheStream) {
  TempDataFolder temp(false);
  Stream stream;
  EXPECT_FALSE(stream.lifecycle.frame().channel().isShared());
  ParameterBlock defaults = test::defaultRecord();
  for (int b = 0; b < 20; ++b) EXPECT_TRUE(sameRecord(defaults, stream.block()));

  temp.create();
  writeRecordFile(temp, recordWithGain(7.0f));
  EXPECT_TRUE(stream.reachesGain(7.0f));
}

// Verifies that a params.bin written slowly in small pieces while the watcher runs is never
// taken before it is whole: every block sees the old record or the complete new one.
TEST(ChannelFaultThreadTest, SlowlyWrittenParameterFile) {
  TempDataFolder temp;
  test::fs::create_directory(temp.file("shared.bin"));  // forces fallback mode
  const ParameterBlock before = recordWithGain(3.0f);
  writeRecordFile(temp, before);
  Stream stream;
  ASSERT_FALSE(stream.lifecycle.frame().channel().isShared());
  ASSERT_TRUE(stream.reachesGain(3.0f));

  // Pieces far slower than the watcher's settle pause, so it reads many partial files.
  constexpr std::size_t kPiece = 32;
  constexpr std::uint32_t kPauseMs = 60;
  const ParameterBlock after = recordWithGain(-5.0f);
  const auto* bytes = reinterpret_cast<const char*>(&after);
  std::ofstream out(temp.file("params.bin"), std::ios::binary | std::ios::trunc);
  for (std::size_t at = 0; at < sizeof after; at += kPiece) {
    out.write(bytes + at, static_cast<std::streamsize>(std::min(kPiece, sizeof after - at)));
    out.flush();
    sleepMilliseconds(kPauseMs);
    const ParameterBlock& inForce = stream.block();
    if (at + kPiece < sizeof after) {
      EXPECT_TRUE(sameRecord(before, inForce)) << at;
    }
  }
  out.close();
  EXPECT_TRUE(stream.reachesGain(-5.0f));
  EXPECT_TRUE(sameRecord(after, stream.block()));
}

// Verifies that deleting the watched folder keeps the record in force, and that once the
// folder is back the watcher finds it again and takes a new params.bin.
TEST(ChannelFaultThreadTest, WatchedFolderDeletedAndRecreated) {
  TempDataFolder temp;
  test::fs::create_directory(temp.file("shared.bin"));
  writeRecordFile(temp, recordWithGain(4.0f));
  Stream stream;
  ASSERT_FALSE(stream.lifecycle.frame().channel().isShared());
  ASSERT_TRUE(stream.reachesGain(4.0f));

  test::fs::remove_all(temp.dataFolder());
  for (int b = 0; b < 30; ++b) {
    EXPECT_EQ(4.0f, stream.block().inputGainDb);
    sleepMilliseconds(10);
  }
  temp.create();
  writeRecordFile(temp, recordWithGain(-2.0f));
  EXPECT_TRUE(stream.reachesGain(-2.0f));
}

// Verifies that a log that cannot be written in the data folder (a folder in place of
// apo.log) costs only its lines there: the stream locks, takes records and unlocks, the
// shared block works, and the lines go elsewhere instead of into the data folder.
TEST(ChannelFaultThreadTest, UnwritableLogAffectsNothingElse) {
  TempDataFolder temp;
  test::fs::create_directory(temp.file("apo.log"));
  {
    Stream stream;
    SharedBlock* block = stream.lifecycle.frame().channel().activeBlock();
    ASSERT_NE(nullptr, block);
    EXPECT_TRUE(stream.lifecycle.frame().channel().isShared());
    publishRecord(*block, recordWithGain(9.0f));
    EXPECT_EQ(9.0f, stream.block().inputGainDb);
    EXPECT_EQ(1u, sharedWord(block->processedBlocks).load());
  }
  EXPECT_TRUE(test::fs::is_directory(temp.file("apo.log")));
  EXPECT_TRUE(test::fs::is_empty(temp.file("apo.log")));
}

}  // namespace
}  // namespace vorlund
