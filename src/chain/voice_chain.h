// Layer: signal
// The signal path of the effect: turns one block of mono samples into the processed voice,
// in place. Owns its copy of the parameter record, every stage by value, and the per-block
// meters. Only prepare() allocates; configure(), reset() and process() are real-time safe.
#pragma once

#include <cstddef>
#include <cstdint>

#include "chain/compressor.h"
#include "chain/dc_blocker.h"
#include "chain/de_esser.h"
#include "chain/equalizer.h"
#include "chain/high_pass_filter.h"
#include "chain/hum_filter.h"
#include "chain/lane_kernels.h"
#include "chain/level_tracker.h"
#include "chain/lookahead_limiter.h"
#include "chain/loudness_agc.h"
#include "chain/noise_gate.h"
#include "chain/plosive_suppressor.h"
#include "engine/chain_meters.h"
#include "engine/parameter_block.h"
#include "suppressor/noise_suppressor.h"
#include "suppressor/voice_effect.h"

namespace vorlund {

// Bytes one chain holds: the object itself and the buffers its stages own.
struct ChainMemory {
  std::size_t object;
  std::size_t suppressorBuffers;
  std::size_t transformTables;
  std::size_t voiceEffectBuffers;
  std::size_t limiterBuffers;
  std::size_t total() const noexcept {
    return object + suppressorBuffers + transformTables + voiceEffectBuffers + limiterBuffers;
  }
};

class VoiceChain {
 public:
  // Largest magnitude of an output sample (+60 dBFS, the input's own limit).
  static constexpr float kOutputLimit = 1000.0f;

  VoiceChain() noexcept;

  // Configuration thread, unlocked; may allocate. Ends by turning the record into stage
  // settings, and with reset().
  void prepare(double sampleRate);
  // Real-time thread between blocks, or a configuration thread while none runs; puts `record`
  // in force. A prepared chain turns it into stage settings at once, without touching signal
  // state; an unprepared one in prepare().
  void configure(const ParameterBlock& record) noexcept;
  // The record in force.
  const ParameterBlock& record() const noexcept { return params_; }
  // Real-time thread; clears signal memory, keeps coefficients.
  void reset() noexcept;
  // Real-time thread; processes `count` samples in place and fills `meters`. count <= 0
  // changes nothing.
  void process(float* samples, int count) noexcept;
  // Real-time thread; process() as if the record's bypass were off: the wet side of a fade
  // that mixes the dry signal in itself.
  void processActive(float* samples, int count) noexcept;
  // Any thread: the delay the chain adds at the prepared rate, in samples: the suppressor's
  // frame plus the limiter's window, less one.
  int latencySamples() const noexcept;
  // Bytes held per instance: the object itself and every buffer its stages own.
  ChainMemory memoryUse() const noexcept {
    return {sizeof(VoiceChain), suppressor_.bufferBytes(), suppressor_.transformBytes(),
            voiceEffect_.bufferBytes(), limiter_.bufferBytes()};
  }
  // Real-time thread; restarts the noise suppressor's learning from its next frame.
  void relearnNoise() noexcept { suppressor_.setFrameCount(0); }
  // Blocks after which a stage's signal state had gone non-finite or run away and was
  // cleared, since prepare(). Written by the real-time thread; read it while none runs.
  std::uint32_t recoveryCount() const noexcept { return recoveries_; }
  // Read-only view of the suppressor, for its learning state.
  const NoiseSuppressor& suppressor() const noexcept { return suppressor_; }

  // The rate of the last prepare(), and whether there was one.
  double sampleRate() const noexcept { return sampleRate_; }
  bool isPrepared() const noexcept { return prepared_; }
  // What the last process() measured.
  const ChainMeters& meters() const noexcept { return meters_; }

 private:
  // Turns params_ into stage settings without touching signal state.
  void update() noexcept;
  void conditionAndSuppress(float* samples, int count) noexcept;
  void shapeVoice(float* samples, int count) noexcept;
  void compress(float* samples, int count) noexcept;
  void runOutputStage(float* samples, int count) noexcept;
  void guardFilterState() noexcept;
  void guardOutput(float* samples, int count) noexcept;
  void recover() noexcept;

  // The record in force; process() reads its switches directly.
  ParameterBlock params_{};
  double sampleRate_ = 48000.0;
  bool prepared_ = false;
  ChainMeters meters_{};
  float inputGain_ = 1.0f;
  float outputGain_ = 1.0f;
  // Current value of the mute ramp, 0..1, and its step per sample (a full fade in 10 ms).
  float muteGain_ = 1.0f;
  float muteStep_ = 0.0f;
  std::uint32_t recoveries_ = 0;
  DcBlocker dcBlocker_;
  HighPassFilter highPass_;
  HumFilter humFilter_;
  NoiseSuppressor suppressor_;
  LevelTracker voiceTracker_;
  LevelTracker inputTracker_;
  PlosiveSuppressor plosive_;
  NoiseGate gate_;
  Equalizer equalizer_;
  DeEsser deEsser_;
  LoudnessAgc agc_;
  Compressor compressor_;
  VoiceEffect voiceEffect_;
  LookaheadLimiter limiter_;
  // Long filter cascades (more than go inside the per-sample loops) on the chosen vector path.
  const LaneKernels* cascades_ = &sse2::laneKernels();
};

}  // namespace vorlund
