// Fuzz target for the shared block: any bytes (up to 4096) as an existing shared.bin, opened
// by the channel when the stream locks, then words of the mapped block (header, change
// counter, record, status, relearn counter) changed between blocks the way a faulty or hostile
// control application might, including writes left half-done with an odd counter. It
// requires: no crash or sanitizer report; the mapped block has a valid header once opened;
// after every block the record in force is the sanitised parameter area when the counter is
// even and has moved, and the previous record in force otherwise; every output sample finite.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "channel/parameter_channel.h"
#include "engine/parameter_block.h"
#include "engine/processing_lifecycle.h"
#include "engine/shared_block.h"
#include "engine/stream_format.h"
#include "engine_stream.h"
#include "fuzz_input.h"
#include "temp_data_folder.h"

namespace vorlund::fuzz {
namespace {

constexpr std::size_t kMaxFileBytes = 4096;
constexpr std::uint32_t kMaxChannels = 8;
constexpr std::uint32_t kMaxFrames = 480;
constexpr int kBlockBudget = 64;
constexpr int kRelockBudget = 3;
constexpr std::size_t kBlockWords = SharedBlock::kSize / sizeof(std::uint32_t);

enum class Op : std::uint8_t { Block0, Block1, Record, Word, TornWrite, Reset, Relock, Count };

struct Stream {
  float rate;
  std::uint32_t channels;
};

Stream readStream(FuzzInput& in) {
  return {static_cast<float>(in.inRange(static_cast<std::uint32_t>(kMinFrameRate),
                                        static_cast<std::uint32_t>(kMaxFrameRate))),
          in.inRange(1, kMaxChannels)};
}

std::uint32_t* words(SharedBlock& block) {
  return reinterpret_cast<std::uint32_t*>(&block);
}

ParameterBlock parameterArea(SharedBlock& block) {
  ParameterBlock record;
  for (std::size_t i = 0; i < SharedBlock::kRecordWords; ++i) {
    const std::uint32_t word = sharedWord(block.parameterArea[i]).load();
    std::memcpy(reinterpret_cast<std::uint8_t*>(&record) + i * sizeof word, &word, sizeof word);
  }
  return record;
}

bool sameBytes(const ParameterBlock& a, const ParameterBlock& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void runBlock(ProcessingLifecycle& lifecycle, const Stream& s, FuzzInput& in) {
  const BlockFrame& frame = lifecycle.frame();
  const std::uint32_t frames = in.inRange(1, kMaxFrames);
  std::vector<float> input(static_cast<std::size_t>(frames) * s.channels);
  in.read(input.data(), input.size() * sizeof(float));
  std::vector<float> output(static_cast<std::size_t>(kMaxFrames) * s.channels);
  APO_CONNECTION_PROPERTY inConnection{reinterpret_cast<UINT_PTR>(input.data()), frames,
                                       BUFFER_VALID, 0};
  APO_CONNECTION_PROPERTY outConnection{reinterpret_cast<UINT_PTR>(output.data()), 0,
                                        BUFFER_INVALID, 0};
  APO_CONNECTION_PROPERTY* ins[] = {&inConnection};
  APO_CONNECTION_PROPERTY* outs[] = {&outConnection};
  const ParameterBlock before = frame.chain().record();
  const std::uint32_t applied = frame.lastAppliedCounter();
  lifecycle.process(1, ins, 1, outs);

  require(outConnection.u32BufferFlags == BUFFER_VALID, "the block is processed");
  for (std::size_t i = 0;
       i < static_cast<std::size_t>(outConnection.u32ValidFrameCount) * s.channels; ++i)
    require(std::isfinite(output[i]), "output sample finite");
  // Single-threaded here, so the block saw exactly the state left before it. Words written
  // without moving the counter are not a publication and are rightly not taken.
  SharedBlock& block = *frame.channel().activeBlock();
  const std::uint32_t counter = sharedWord(block.changeCounter).load();
  if (counter % 2 == 0 && counter != applied) {
    ParameterBlock expected = parameterArea(block);
    sanitise(expected);
    require(sameBytes(frame.chain().record(), expected) && frame.lastAppliedCounter() == counter,
            "a new even counter brings the area sanitised");
  } else {
    require(sameBytes(frame.chain().record(), before),
            "an odd or unmoved counter keeps the record");
  }
}

}  // namespace
}  // namespace vorlund::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vorlund;
  using namespace vorlund::fuzz;
  static const test::TempDataFolder dataFolder;
  FuzzInput in(data, size);

  std::vector<std::uint8_t> file(in.value<std::uint16_t>() % (kMaxFileBytes + 1));
  in.read(file.data(), file.size());
  test::writeBytes(dataFolder.file("shared.bin"), file.data(), file.size());
  Stream stream = readStream(in);

  const auto lifecycle = std::make_unique<ProcessingLifecycle>();
  const BlockFrame& frame = lifecycle->frame();
  EngineStream engine(*lifecycle);
  auto lock = [&] {
    engine.lock(stream.rate, stream.channels, kMaxFrames, kMaxFrames);
    require(frame.channel().isShared(), "shared.bin is mapped");
  };
  lock();
  // Checked once: later header words are whatever the writer left, and the channel, open
  // across re-locks, never looks at them again.
  SharedBlock* opened = frame.channel().activeBlock();
  require(sharedWord(opened->magic).load() == SharedBlock::kMagic &&
              sharedWord(opened->version).load() == SharedBlock::kVersion,
          "the mapped block has a valid header");

  int blocks = kBlockBudget;
  int relocks = kRelockBudget;
  ParameterBlock record;
  while (!in.exhausted() && blocks > 0) {
    SharedBlock& block = *frame.channel().activeBlock();
    switch (static_cast<Op>(in.byte() % static_cast<int>(Op::Count))) {
      case Op::Block0:
      case Op::Block1:
        --blocks;
        runBlock(*lifecycle, stream, in);
        break;
      case Op::Record:
        in.read(&record, sizeof record);
        publishRecord(block, record);
        break;
      case Op::Word: {
        const std::size_t word = in.byte() % kBlockWords;
        sharedWord(words(block)[word]).store(in.value<std::uint32_t>());
        break;
      }
      case Op::TornWrite: {
        // A writer that stopped after raising the counter and copying a few words.
        std::atomic_ref<std::uint32_t> counter = sharedWord(block.changeCounter);
        counter.store(counter.load() | 1u);
        for (int copied = in.byte() % 8; copied > 0; --copied) {
          const std::size_t word = in.byte() % SharedBlock::kRecordWords;
          sharedWord(block.parameterArea[word]).store(in.value<std::uint32_t>());
        }
        break;
      }
      case Op::Reset:
        lifecycle->requestReset();
        break;
      case Op::Relock:
        if (relocks-- > 0) {
          stream = readStream(in);
          lock();
        }
        break;
      case Op::Count:
        break;
    }
  }
  return 0;
}
