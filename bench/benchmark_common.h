// What the Google Benchmark programs share: the test signal per rate, made once, and the
// counters every benchmark reports.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <vector>

#include "bench_support.h"
#include "chain/lanes.h"
#include "chain/vector_path.h"

namespace vorlund::bench {

// Two seconds of the speech-like signal at `rate`.
inline const std::vector<float>& signalAt(double rate) {
  static std::map<double, std::vector<float>> cache;
  auto found = cache.find(rate);
  if (found == cache.end()) found = cache.emplace(rate, speechLikeSignal(rate, 2.0).mix).first;
  return found->second;
}

// "x_realtime": seconds of audio per second of CPU time; the label names the vector code path.
inline void countAudio(benchmark::State& state, double rate, int frames) {
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * frames / rate, benchmark::Counter::kIsRate);
  state.SetLabel(vectorPathName(chosenVectorPath()));
}

}  // namespace vorlund::bench
