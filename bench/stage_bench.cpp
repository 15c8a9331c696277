// Cost of each stage class alone per 10 ms block at 8000, 48000 and 384000 Hz, switched on with
// the settings of the every-stage record, fed with the speech-like signal the way the chain
// feeds it (per-sample stages on a local copy, so their state stays in registers; filter
// cascades skewed).
#include <algorithm>
#include <array>
#include <vector>

#include "benchmark_common.h"
#include "chain/biquad_cascade.h"
#include "chain/compressor.h"
#include "chain/dc_blocker.h"
#include "chain/de_esser.h"
#include "chain/equalizer.h"
#include "chain/high_pass_filter.h"
#include "chain/hum_filter.h"
#include "chain/level_tracker.h"
#include "chain/lookahead_limiter.h"
#include "chain/loudness_agc.h"
#include "chain/noise_gate.h"
#include "chain/plosive_suppressor.h"
#include "chain/stage_settings.h"
#include "suppressor/noise_suppressor.h"
#include "suppressor/voice_effect.h"

namespace vorlund::bench {
namespace {

const ParameterBlock& record() {
  static const ParameterBlock r = everyStageRecord(kCostliestEffectMode);
  return r;
}

// Runs `block(stage, samples, count)` over consecutive 10 ms blocks of the signal.
template <typename Stage, typename Block>
void runStage(benchmark::State& state, Stage& stage, Block block) {
  const double rate = static_cast<double>(state.range(0));
  const int frames = static_cast<int>(rate / 100.0);
  const std::vector<float>& signal = signalAt(rate);
  std::vector<float> work(frames);
  std::size_t offset = 0;
  for (auto _ : state) {
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(offset), frames, work.begin());
    block(stage, work.data(), frames);
    benchmark::DoNotOptimize(work.data());
    offset = (offset + frames) % (signal.size() - frames);
  }
  countAudio(state, rate, frames);
}

// A stage made of filter sections, run as the chain runs a cascade: copied into locals and
// skewed so the sections run side by side.
template <typename Stage>
void sections(Stage& stage, float* samples, int count) {
  std::array<BiquadSection*, Equalizer::kMaxSections> list;
  withLocalCascade<Equalizer::kMaxSections>(
      list.data(), stage.activeSections(list.data()),
      [&](auto& cascade) { cascade.processBlock(samples, count); });
}

// A per-sample stage over a block, on a local copy as the chain runs it.
template <typename Stage>
void perSample(Stage& stage, float* samples, int count) {
  Stage local = stage;
  for (int i = 0; i < count; ++i) samples[i] = local.process(samples[i]);
  stage = local;
}

double rateOf(const benchmark::State& state) {
  return static_cast<double>(state.range(0));
}

void BM_DcBlocker(benchmark::State& state) {
  DcBlocker stage;
  stage.prepare(rateOf(state));
  runStage(state, stage, perSample<DcBlocker>);
}

void BM_HighPass4(benchmark::State& state) {
  HighPassFilter stage;
  stage.prepare(rateOf(state));
  stage.configure({.enabled = true, .cornerHz = record().highPassHz, .order = 4});
  runStage(state, stage, sections<HighPassFilter>);
}

void BM_HumNotches(benchmark::State& state) {
  HumFilter stage;
  stage.prepare(rateOf(state));
  stage.configure(
      {.enabled = true, .baseHz = record().humBaseHz, .harmonics = record().humHarmonics});
  runStage(state, stage, sections<HumFilter>);
}

void BM_NoiseSuppressor(benchmark::State& state) {
  NoiseSuppressor stage;
  stage.prepare(rateOf(state));
  stage.configure(
      {.enabled = true, .reductionDb = record().nsReductionDb, .strength = record().nsStrength});
  runStage(state, stage, [](NoiseSuppressor& s, float* samples, int count) {
    for (int i = 0; i < count; ++i) samples[i] = s.processSample(samples[i]);
  });
}

void BM_LevelTracker(benchmark::State& state) {
  LevelTracker stage;
  stage.prepare(rateOf(state));
  runStage(state, stage,
           [](LevelTracker& s, float* samples, int count) { s.process(samples, count); });
}

void BM_PlosiveSuppressor(benchmark::State& state) {
  PlosiveSuppressor stage;
  stage.prepare(rateOf(state));
  stage.configure({.enabled = true, .strength = record().plosiveStrength});
  runStage(state, stage, perSample<PlosiveSuppressor>);
}

void BM_NoiseGate(benchmark::State& state) {
  const ParameterBlock& r = record();
  NoiseGate stage;
  stage.prepare(rateOf(state));
  NoiseGate::Settings settings = gateSettings(r);
  settings.enabled = true;
  stage.configure(settings);
  runStage(state, stage, perSample<NoiseGate>);
}

// Ten active bands and three tone filters: the most the equaliser ever runs.
void BM_Equalizer13(benchmark::State& state) {
  const ParameterBlock& r = record();
  Equalizer stage;
  stage.prepare(rateOf(state));
  stage.configure(equalizerSettings(r));
  runStage(state, stage, sections<Equalizer>);
}

void BM_DeEsser(benchmark::State& state) {
  DeEsser stage;
  stage.prepare(rateOf(state));
  stage.configure(
      {.enabled = true, .frequencyHz = record().deEsserHz, .amount = record().deEsserAmount});
  runStage(state, stage, perSample<DeEsser>);
}

void BM_LoudnessAgc(benchmark::State& state) {
  const ParameterBlock& r = record();
  LoudnessAgc stage;
  stage.prepare(rateOf(state));
  LoudnessAgc::Settings settings = agcSettings(r);
  settings.enabled = true;
  stage.configure(settings);
  runStage(state, stage,
           [](LoudnessAgc& s, float* samples, int count) { s.process(samples, count, true); });
}

void BM_Compressor(benchmark::State& state) {
  const ParameterBlock& r = record();
  Compressor stage;
  stage.prepare(rateOf(state));
  Compressor::Settings settings = compressorSettings(r);
  settings.enabled = true;
  stage.configure(settings);
  runStage(state, stage,
           [](Compressor& s, float* samples, int count) { s.process(samples, count); });
}

void BM_VoiceEffect(benchmark::State& state) {
  const ParameterBlock& r = record();
  VoiceEffect stage;
  stage.prepare(rateOf(state));
  stage.configure({static_cast<VoiceEffectMode>(state.range(1)), r.effectMix, r.effectParam});
  runStage(state, stage,
           [](VoiceEffect& s, float* samples, int count) { s.process(samples, count); });
}

void BM_Limiter(benchmark::State& state) {
  LookaheadLimiter stage;
  stage.prepare(rateOf(state));
  stage.configure({.enabled = true, .ceilingDb = record().limiterCeilingDb});
  runStage(state, stage,
           [](LookaheadLimiter& s, float* samples, int count) { s.process(samples, count); });
}

#define VORLUND_STAGE_BENCHMARK(name) BENCHMARK(name)->Arg(8000)->Arg(48000)->Arg(384000)
VORLUND_STAGE_BENCHMARK(BM_DcBlocker);
VORLUND_STAGE_BENCHMARK(BM_HighPass4);
VORLUND_STAGE_BENCHMARK(BM_HumNotches);
VORLUND_STAGE_BENCHMARK(BM_NoiseSuppressor);
VORLUND_STAGE_BENCHMARK(BM_LevelTracker);
VORLUND_STAGE_BENCHMARK(BM_PlosiveSuppressor);
VORLUND_STAGE_BENCHMARK(BM_NoiseGate);
VORLUND_STAGE_BENCHMARK(BM_Equalizer13);
VORLUND_STAGE_BENCHMARK(BM_DeEsser);
VORLUND_STAGE_BENCHMARK(BM_LoudnessAgc);
VORLUND_STAGE_BENCHMARK(BM_Compressor);
VORLUND_STAGE_BENCHMARK(BM_Limiter);
BENCHMARK(BM_VoiceEffect)->ArgsProduct({{8000, 48000, 384000}, {1, 2, 3, 4, 5, 6}});

}  // namespace
}  // namespace vorlund::bench
