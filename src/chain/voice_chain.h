// The signal path of the effect: turns one block of mono samples into the processed voice,
// in place. Owns its copy of the parameter record, every stage by value, and the per-block
// meters. Only prepare() allocates; update(), reset() and process() are real-time safe.
#pragma once

#include "chain/chain_meters.h"
#include "chain/dc_blocker.h"
#include "chain/high_pass_filter.h"
#include "chain/hum_filter.h"
#include "engine/parameter_block.h"

namespace vorlund {

class VoiceChain {
 public:
  VoiceChain() noexcept;

  // Configuration thread, unlocked; may allocate. Ends with update() and reset().
  void prepare(double sampleRate);
  // Real-time thread; turns `params` into stage settings without touching signal state.
  void update() noexcept;
  // Real-time thread; clears signal memory, keeps coefficients.
  void reset() noexcept;
  // Real-time thread; restarts the noise suppressor's learning of the background noise.
  void relearnNoise() noexcept;
  // Any thread: the delay the chain adds, in samples at the prepared rate.
  int latencySamples() const noexcept;
  // Real-time thread; processes `count` samples in place and fills `meters`. count <= 0
  // changes nothing.
  void process(float* samples, int count) noexcept;

  double sampleRate = 48000.0;
  bool prepared = false;
  ParameterBlock params{};
  ChainMeters meters{};

 private:
  void measureOutput(const float* samples, int count) noexcept;

  float inputGain_ = 1.0f;
  float outputGain_ = 1.0f;
  DcBlocker dcBlocker_;
  HighPassFilter highPass_;
  HumFilter humFilter_;
};

}  // namespace vorlund
