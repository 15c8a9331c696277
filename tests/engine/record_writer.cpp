// A control program for the cross-process test: maps shared.bin as the control application
// does (through its own SharedFile), hammers checksummed records and relearn requests into it by
// the writer's protocol until the running stream has processed a number of blocks, then reads the
// stream status and meters back. Exit code 0 when everything read back fits the stream it was told
// of.
//
// record_writer <shared.bin> <sample rate> <channels> <blocks to outlast>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "channel/parameter_channel.h"
#include "common/shared_file.h"
#include "engine/checksummed_record.h"
#include "platform/system.h"

namespace {

constexpr std::uint64_t kPatienceMs = 60000;

int fail(int code, const char* what) {
  std::fprintf(stderr, "record_writer: %s\n", what);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vorlund;
  if (argc != 5) return fail(2, "usage: record_writer <shared.bin> <rate> <channels> <blocks>");
  const std::int32_t rate = std::atoi(argv[2]);
  const std::uint32_t channels = static_cast<std::uint32_t>(std::atoi(argv[3]));
  const std::uint64_t blocks = std::strtoull(argv[4], nullptr, 10);

  SharedFile shared;
  const SharedFile::State state = shared.open(Path::fromUtf8(argv[1]));
  if (state == SharedFile::State::missing || state == SharedFile::State::failed)
    return fail(3, shared.problem().c_str());
  if (state != SharedFile::State::mapped) return fail(5, shared.problem().c_str());
  SharedBlock& block = shared.block();

  const std::uint64_t first = sharedWord(block.processedBlocks).load();
  const std::uint64_t deadline = tickCount64() + kPatienceMs;
  std::uint32_t sequence = 0;
  // However fast the stream runs, enough records go in to race its reads many times.
  constexpr std::uint32_t kMinimumRecords = 1000;
  while (sequence < kMinimumRecords || sharedWord(block.processedBlocks).load() - first < blocks) {
    if (tickCount64() > deadline) return fail(6, "the stream stopped processing");
    publishRecord(block, test::checksummedRecord(++sequence));
    if (sequence % 64 == 0) sharedWord(block.relearnCounter).fetch_add(1);
    // Every eighth record waits for the next block, so the stream sees quiet blocks as well
    // as writes racing its reads, however the two processes are scheduled.
    if (sequence % 8 == 0) {
      const std::uint64_t seen = sharedWord(block.processedBlocks).load();
      while (sharedWord(block.processedBlocks).load() == seen && tickCount64() <= deadline)
        std::this_thread::yield();
    }
  }

  const std::uint64_t processed = sharedWord(block.processedBlocks).load();
  const std::uint64_t tick = sharedWord(block.lastBlockTick).load();
  const float inputPeakDb = sharedWord(block.inputPeakDb).load();
  const float load = sharedWord(block.processingLoad).load();
  std::printf(
      "records %u, blocks %llu, streams %d, rate %d, channels %u, peak %.2f dB, load %.4f\n",
      sequence, static_cast<unsigned long long>(processed - first),
      sharedWord(block.activeStreams).load(), sharedWord(block.streamSampleRate).load(),
      sharedWord(block.streamChannels).load(), inputPeakDb, load);
  if (sharedWord(block.activeStreams).load() < 1) return fail(7, "no active stream");
  if (sharedWord(block.streamSampleRate).load() != rate) return fail(8, "wrong stream rate");
  if (sharedWord(block.streamChannels).load() != channels) return fail(9, "wrong channels");
  if (tick == 0 || tick > tickCount64()) return fail(10, "no block tick");
  // The stream runs a 1 kHz sine of amplitude 0.25: -12.04 dBFS.
  if (std::fabs(inputPeakDb + 12.04f) > 0.1f) return fail(11, "wrong input peak");
  if (!(load > 0.0f)) return fail(12, "no processing load");
  return 0;
}
