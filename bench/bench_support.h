// Material shared by the benchmark programs: a generated speech-like signal with its clean and
// noise parts kept apart, and the parameter records the benchmarks run. Everything here is
// deterministic, so every program and every run sees the same samples.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/block_frame.h"
#include "engine/parameter_block.h"

namespace vorlund::bench {

struct SpeechSignal {
  std::vector<float> speech;  // the clean voice alone
  std::vector<float> noise;   // the background alone
  std::vector<float> mix;     // speech + noise, what the microphone hears
  // True for samples that lie in a pause at least kPauseMarginSeconds away from any speech.
  std::vector<bool> inPause;
};

// Pause samples this close to speech do not count as pause (onsets, reverberant ends).
constexpr double kPauseMarginSeconds = 0.1;

// Talk spurts of voiced syllables (a buzzy source with a gliding pitch through three formant
// resonances) and fricatives (high-passed noise), separated by pauses, over a steady pinkish
// background about 12 dB below the speech. Levels: speech about -24 dBFS RMS while talking.
SpeechSignal speechLikeSignal(double sampleRate, double seconds, std::uint32_t seed = 1);

// The voice effect mode that costs most per sample (the band-limited saturation: a hyperbolic
// tangent between filter sections); the every-stage figures use it.
constexpr int kCostliestEffectMode = 2;

// Leaves `frame` as LockForProcess would for `channels` channels at `rate` in 10 ms blocks,
// with `record` applied: chain prepared, buffers sized, statistics cleared, locked.
void lockForProcessing(BlockFrame& frame, const ParameterBlock& record, double rate,
                       std::uint32_t channels);

// The factory record.
ParameterBlock defaultRecord();
// Only the noise suppressor switched on (the input gain, DC blocker, limiter delay and level
// trackers always run).
ParameterBlock suppressorOnlyRecord();
// Every switchable stage on: fourth-order high-pass, hum notches, all ten equaliser bands and
// the three tone filters active, gate, automatic gain, and the given voice effect mode.
ParameterBlock everyStageRecord(int effectMode);
// The factory record with one voice effect mode, at the record's default mix and character.
ParameterBlock effectRecord(int effectMode);

}  // namespace vorlund::bench
