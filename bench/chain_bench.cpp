// Cost of the voice chain and of the block frame around it, per 10 ms block, at several rates.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "engine/block_frame.h"
#include "platform/performance_counter.h"

namespace vorlund {
namespace {

// Speech-like test signal: a buzzy harmonic tone switching on and off, over a noise floor.
std::vector<float> testSignal(double rate, int count) {
  std::vector<float> out(count);
  std::uint32_t seed = 1;
  for (int i = 0; i < count; ++i) {
    const double t = i / rate;
    double voice = 0.0;
    for (int h = 1; h <= 8; ++h) voice += std::sin(2.0 * 3.14159265358979 * 130.0 * h * t) / h;
    seed = seed * 1664525u + 1013904223u;
    const double noise = (static_cast<std::int32_t>(seed) / 2147483648.0) * 0.01;
    out[i] = static_cast<float>((std::fmod(t, 0.8) < 0.5 ? 0.1 * voice : 0.0) + noise);
  }
  return out;
}

void BM_ChainDefault(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0));
  const int block = static_cast<int>(rate / 100.0);
  VoiceChain chain;
  chain.prepare(rate);
  const std::vector<float> signal = testSignal(rate, static_cast<int>(rate));
  std::vector<float> work(block);
  int offset = 0;
  for (auto _ : state) {
    std::copy_n(signal.begin() + offset, block, work.begin());
    chain.process(work.data(), block);
    benchmark::DoNotOptimize(work.data());
    offset = (offset + block) % (static_cast<int>(signal.size()) - block);
  }
  state.SetItemsProcessed(state.iterations() * block);
}
BENCHMARK(BM_ChainDefault)->Arg(8000)->Arg(48000)->Arg(384000);

// The whole APOProcess body: fold, chain, write-out, for many channels at a high rate.
void BM_BlockFrame(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0));
  const auto channels = static_cast<std::uint32_t>(state.range(1));
  const auto frames = static_cast<std::uint32_t>(rate / 100.0);
  BlockFrame frame;
  frame.chain.prepare(rate);
  frame.sizeBuffers(frames, frames);
  frame.resetStatistics();
  frame.inputChannelCount = channels;
  frame.sampleRate = static_cast<float>(rate);
  frame.counterFrequency = performanceFrequency();
  frame.locked = true;
  const std::vector<float> mono = testSignal(rate, static_cast<int>(frames));
  std::vector<float> interleaved(static_cast<std::size_t>(frames) * channels);
  for (std::uint32_t k = 0; k < frames; ++k)
    for (std::uint32_t c = 0; c < channels; ++c) interleaved[k * channels + c] = mono[k];
  std::vector<float> buffer(interleaved.size());
  APO_CONNECTION_PROPERTY connection{};
  APO_CONNECTION_PROPERTY* connections[] = {&connection};
  for (auto _ : state) {
    std::copy(interleaved.begin(), interleaved.end(), buffer.begin());
    connection = {reinterpret_cast<UINT_PTR>(buffer.data()), frames, BUFFER_VALID, 0};
    frame.process(1, connections, 1, connections);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_BlockFrame)->Args({48000, 2})->Args({384000, 64});

}  // namespace
}  // namespace vorlund
