// Runs the voice chain through the block frame (as APOProcess does) on the generated speech for
// a fixed stretch of audio, so that an instruction counter can measure it. Only
// countedAudio() is meant to be counted: callgrind starts with collection off and toggles it
// around that function (scripts/instruction-budget.sh), leaving out set-up and signal making.
//
//   vorlund-budget [default|suppressor|every-stage] [seconds] [rate] [channels]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "chain/vector_path.h"
#include "engine/block_frame.h"
#include "engine/forced_vector_path.h"

namespace vorlund::bench {
namespace {

// One second of warm-up runs first, so the counted stretch sees learned noise and settled
// envelopes rather than the start-up phase.
constexpr double kWarmUpSeconds = 1.0;

void runBlocks(BlockFrame& frame, const std::vector<float>& interleaved, std::size_t firstFrame,
               std::size_t frames, std::uint32_t channels, std::uint32_t block,
               std::vector<float>& buffer) {
  APO_CONNECTION_PROPERTY connection{};
  APO_CONNECTION_PROPERTY* connections[] = {&connection};
  for (std::size_t at = firstFrame; at + block <= firstFrame + frames; at += block) {
    const float* from = interleaved.data() + at * channels;
    std::copy(from, from + static_cast<std::size_t>(block) * channels, buffer.begin());
    connection = {reinterpret_cast<UINT_PTR>(buffer.data()), block, BUFFER_VALID, 0};
    frame.process(1, connections, 1, connections);
  }
}

[[gnu::noinline]] void countedAudio(BlockFrame& frame, const std::vector<float>& interleaved,
                                    std::size_t firstFrame, std::size_t frames,
                                    std::uint32_t channels, std::uint32_t block,
                                    std::vector<float>& buffer) {
  runBlocks(frame, interleaved, firstFrame, frames, channels, block, buffer);
}

int run(int argc, char** argv) {
  const std::string record = argc > 1 ? argv[1] : "default";
  const double seconds = argc > 2 ? std::atof(argv[2]) : 1.0;
  const double rate = argc > 3 ? std::atof(argv[3]) : 48000.0;
  const auto channels = static_cast<std::uint32_t>(argc > 4 ? std::atoi(argv[4]) : 1);
  if (!(seconds > 0.0) || !(rate >= 8000.0) || channels < 1) {
    std::fprintf(stderr,
                 "usage: vorlund-budget [default|suppressor|every-stage] [seconds] "
                 "[rate] [channels]\n");
    return 2;
  }

  ParameterBlock chosen = defaultRecord();
  if (record == "suppressor") {
    chosen = suppressorOnlyRecord();
  } else if (record == "every-stage") {
    chosen = everyStageRecord(kCostliestEffectMode);
  } else if (record != "default") {
    std::fprintf(stderr, "unknown record %s\n", record.c_str());
    return 2;
  }
  BlockFrame frame;
  lockForProcessing(frame, chosen, rate, channels);
  const auto block = static_cast<std::uint32_t>(rate / 100.0);

  const SpeechSignal signal = speechLikeSignal(rate, kWarmUpSeconds + seconds);
  std::vector<float> interleaved(signal.mix.size() * channels);
  for (std::size_t k = 0; k < signal.mix.size(); ++k)
    for (std::uint32_t c = 0; c < channels; ++c) interleaved[k * channels + c] = signal.mix[k];
  std::vector<float> buffer(static_cast<std::size_t>(block) * channels);

  const auto warmUp = static_cast<std::size_t>(kWarmUpSeconds * rate);
  runBlocks(frame, interleaved, 0, warmUp, channels, block, buffer);
  countedAudio(frame, interleaved, warmUp, static_cast<std::size_t>(seconds * rate), channels,
               block, buffer);
  std::printf("%s record, %.2f s at %.0f Hz, %u channel(s), vector path %s: output peak %.4f\n",
              record.c_str(), seconds, rate, channels, vectorPathName(chosenVectorPath()),
              static_cast<double>(frame.statistics().peakOutput));
  return 0;
}

}  // namespace
}  // namespace vorlund::bench

int main(int argc, char** argv) {
  vorlund::applyForcedVectorPath();
  return vorlund::bench::run(argc, argv);
}
