// Cost of the whole voice chain per 10 ms block at 8000, 48000 and 384000 Hz: with the factory
// record, with only the noise suppressor, with every stage on, and with each voice-effect
// mode; the block frame around it (APOProcess) with 2 channels at 48 kHz and 64 channels at
// 384 kHz; and the suppressor's transform pair. The "x_realtime" counter is seconds of audio
// per second of CPU time.
#include <algorithm>
#include <string>
#include <vector>

#include "benchmark_common.h"
#include "engine/block_frame.h"
#include "engine/forced_vector_path.h"
#include "suppressor/fft.h"

namespace vorlund::bench {
namespace {

void runChain(benchmark::State& state, const ParameterBlock& record) {
  const double rate = static_cast<double>(state.range(0));
  const int frames = static_cast<int>(rate / 100.0);
  VoiceChain chain;
  chain.configure(record);
  chain.prepare(rate);
  const std::vector<float>& signal = signalAt(rate);
  std::vector<float> work(frames);
  std::size_t offset = 0;
  for (auto _ : state) {
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(offset), frames, work.begin());
    chain.process(work.data(), frames);
    benchmark::DoNotOptimize(work.data());
    offset = (offset + frames) % (signal.size() - frames);
  }
  countAudio(state, rate, frames);
}

void BM_ChainDefault(benchmark::State& state) {
  runChain(state, defaultRecord());
}
void BM_ChainSuppressorOnly(benchmark::State& state) {
  runChain(state, suppressorOnlyRecord());
}
void BM_ChainEveryStage(benchmark::State& state) {
  runChain(state, everyStageRecord(kCostliestEffectMode));
}
void BM_ChainEffectMode(benchmark::State& state) {
  runChain(state, effectRecord(static_cast<int>(state.range(1))));
}
BENCHMARK(BM_ChainDefault)->Arg(8000)->Arg(48000)->Arg(384000);
BENCHMARK(BM_ChainSuppressorOnly)->Arg(8000)->Arg(48000)->Arg(384000);
BENCHMARK(BM_ChainEveryStage)->Arg(8000)->Arg(48000)->Arg(384000);
BENCHMARK(BM_ChainEffectMode)->ArgsProduct({{8000, 48000, 384000}, {1, 2, 3, 4, 5, 6}});

// The whole APOProcess body: fold, chain, write-out.
void runBlockFrame(benchmark::State& state, const ParameterBlock& record) {
  const double rate = static_cast<double>(state.range(0));
  const auto channels = static_cast<std::uint32_t>(state.range(1));
  const auto frames = static_cast<std::uint32_t>(rate / 100.0);
  BlockFrame frame;
  lockForProcessing(frame, record, rate, channels);
  const std::vector<float>& mono = signalAt(rate);
  std::vector<float> buffer(static_cast<std::size_t>(frames) * channels);
  APO_CONNECTION_PROPERTY connection{};
  APO_CONNECTION_PROPERTY* connections[] = {&connection};
  std::size_t offset = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (std::uint32_t k = 0; k < frames; ++k)
      std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(k) * channels, channels,
                  mono[offset + k]);
    offset = (offset + frames) % (mono.size() - frames);
    state.ResumeTiming();
    connection = {reinterpret_cast<UINT_PTR>(buffer.data()), frames, BUFFER_VALID, 0};
    frame.process(1, connections, 1, connections);
    benchmark::DoNotOptimize(buffer.data());
  }
  countAudio(state, rate, static_cast<int>(frames));
}

void BM_BlockFrameDefault(benchmark::State& state) {
  runBlockFrame(state, defaultRecord());
}
void BM_BlockFrameEveryStage(benchmark::State& state) {
  runBlockFrame(state, everyStageRecord(kCostliestEffectMode));
}
BENCHMARK(BM_BlockFrameDefault)->Args({48000, 2})->Args({384000, 64});
BENCHMARK(BM_BlockFrameEveryStage)->Args({48000, 2})->Args({384000, 64});

// One frame's transform pair: the noise suppressor's real-input forward and inverse, or the
// complex transform forward and back on the same frame, as the definition states it.
void runFftPair(benchmark::State& state, bool realInput) {
  const int n = static_cast<int>(state.range(0));
  Fft fft;
  fft.setup(n);
  std::vector<float> re(n), im(n);
  const std::vector<float>& signal = signalAt(48000.0);
  for (auto _ : state) {
    std::copy_n(signal.begin(), n, re.begin());
    if (realInput) {
      fft.forwardReal(re.data(), im.data());
      fft.inverseReal(re.data(), im.data());
    } else {
      std::fill(im.begin(), im.end(), 0.0f);
      fft.transform(re.data(), im.data(), false);
      fft.transform(re.data(), im.data(), true);
    }
    benchmark::DoNotOptimize(re.data());
  }
  state.SetLabel(std::string(vectorPathName(chosenVectorPath())) +
                 (realInput ? ", real-input pair" : ", complex pair"));
}

void BM_FftPairReal(benchmark::State& state) {
  runFftPair(state, true);
}
void BM_FftPairComplex(benchmark::State& state) {
  runFftPair(state, false);
}
BENCHMARK(BM_FftPairReal)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048);
BENCHMARK(BM_FftPairComplex)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048);

}  // namespace
}  // namespace vorlund::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // VORLUND_SIMD=sse2 measures the SSE2 path on a processor with AVX2.
  vorlund::applyForcedVectorPath();
  benchmark::AddCustomContext("vector code path",
                              vorlund::vectorPathName(vorlund::chosenVectorPath()));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
