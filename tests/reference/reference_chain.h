// The voice chain written the straightforward way: every step of the block in its own loop, the
// per-sample stages called one sample at a time on their members, with the straightforward
// forms of the restructured stages. The stages whose per-sample code the product left as it
// was (DC blocker, high-pass, hum notches, trackers, plosive suppressor, gate, equaliser) are
// the product's own. With RealInputTransform the product chain must match it bit
// for bit, outputs and meters alike.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

#include "chain/dc_blocker.h"
#include "chain/equalizer.h"
#include "chain/gain.h"
#include "chain/high_pass_filter.h"
#include "chain/hum_filter.h"
#include "chain/level_tracker.h"
#include "chain/noise_gate.h"
#include "chain/plosive_suppressor.h"
#include "chain/stage_settings.h"
#include "engine/chain_meters.h"
#include "engine/parameter_block.h"
#include "reference/reference_noise_suppressor.h"
#include "reference/reference_stages.h"
#include "reference/reference_voice_effect.h"

namespace vorlund::reference {

template <typename Transform = RealInputTransform>
class ReferenceChain {
 public:
  ReferenceChain() { setDefaults(params); }

  void prepare(double rate) {
    sampleRate_ = rate;
    dcBlocker_.prepare(rate);
    suppressor_.prepare(rate);
    voiceTracker_.prepare(rate);
    inputTracker_.prepare(rate);
    highPass_.prepare(rate);
    equalizer_.prepare(rate);
    gate_.prepare(rate);
    compressor_.prepare(rate);
    limiter_.prepare(rate);
    agc_.prepare(rate);
    deEsser_.prepare(rate);
    plosive_.prepare(rate);
    humFilter_.prepare(rate);
    voiceEffect_.prepare(rate);
    muteStep_ = 1.0f / static_cast<float>(rate * 0.01);
    update();
    reset();
  }

  void configure(const ParameterBlock& record) {
    params = record;
    update();
  }

  void update() {
    const ParameterBlock& p = params;
    inputGain_ = dbToGain(p.inputGainDb);
    outputGain_ = dbToGain(p.outputGainDb);
    highPass_.configure(highPassSettings(p));
    humFilter_.configure(humSettings(p));
    suppressor_.configure(suppressorSettings(p));
    plosive_.configure(plosiveSettings(p));
    gate_.configure(gateSettings(p));
    equalizer_.configure(equalizerSettings(p));
    deEsser_.configure(deEsserSettings(p));
    agc_.configure(agcSettings(p));
    compressor_.configure(compressorSettings(p));
    voiceEffect_.configure(voiceEffectSettings(p));
    limiter_.configure(limiterSettings(p));
  }

  void reset() {
    dcBlocker_.reset();
    highPass_.reset();
    humFilter_.reset();
    suppressor_.reset();
    voiceTracker_.reset();
    inputTracker_.reset();
    gate_.reset();
    compressor_.reset();
    limiter_.reset();
    agc_.reset();
    equalizer_.reset();
    deEsser_.reset();
    plosive_.reset();
    muteGain_ = params.mute != 0 ? 0.0f : 1.0f;
  }

  void relearnNoise() { suppressor_.setFrameCount(0); }
  int latencySamples() const { return suppressor_.frameSize() + limiter_.lookaheadSamples() - 1; }

  void process(float* samples, int count) {
    if (count <= 0) return;
    measure(samples, count, meters.inputPeak, meters.inputMeanSquare);
    inputTracker_.process(samples, count);
    meters.inputBackgroundDb = inputTracker_.backgroundDb();
    if (params.bypass != 0) {
      meters.outputPeak = meters.inputPeak;
      meters.outputMeanSquare = meters.inputMeanSquare;
      meters.gateGain = 1.0f;
      meters.compressorReductionDb = 0.0f;
      meters.limiterMinGain = 1.0f;
      meters.agcGainDb = 0.0f;
      meters.deEsserMinGain = 1.0f;
      meters.plosiveMinGain = 1.0f;
      meters.suppressorAttenuationDb = 0.0f;
      return;
    }
    for (int i = 0; i < count; ++i) {
      float x = samples[i] * inputGain_;
      x = dcBlocker_.process(x);
      x = highPass_.process(x);
      x = humFilter_.process(x);
      samples[i] = x;
    }
    for (int i = 0; i < count; ++i) samples[i] = suppressor_.processSample(samples[i]);
    voiceTracker_.process(samples, count);
    if (params.gateAuto != 0) gate_.setAutoThreshold(voiceTracker_.backgroundDb());
    for (int i = 0; i < count; ++i) {
      float x = samples[i];
      x = plosive_.process(x);
      x = gate_.process(x);
      if (params.eqEnabled != 0) x = equalizer_.process(x);
      x = deEsser_.process(x);
      samples[i] = x;
    }
    agc_.process(samples, count, voiceTracker_.voiceActive());
    for (int i = 0; i < count; ++i) samples[i] = compressor_.process(samples[i]);
    voiceEffect_.process(samples, count);
    const float muteTarget = params.mute != 0 ? 0.0f : 1.0f;
    for (int i = 0; i < count; ++i) {
      const float y = limiter_.process(samples[i] * outputGain_);
      if (muteGain_ < muteTarget) {
        muteGain_ = std::min(muteGain_ + muteStep_, muteTarget);
      } else if (muteGain_ > muteTarget) {
        muteGain_ = std::max(muteGain_ - muteStep_, muteTarget);
      }
      samples[i] = muteGain_ * y;
    }
    measure(samples, count, meters.outputPeak, meters.outputMeanSquare);
    meters.gateGain = gate_.gain();
    meters.compressorReductionDb = compressor_.reductionDb();
    meters.limiterMinGain = limiter_.takeBlockMinGain();
    meters.agcGainDb = agc_.gainDb();
    meters.deEsserMinGain = deEsser_.blockMinGain();
    meters.plosiveMinGain = plosive_.blockMinGain();
    deEsser_.clearBlockMinGain();
    plosive_.clearBlockMinGain();
    meters.suppressorAttenuationDb = params.nsEnabled != 0 ? suppressor_.suppressionDb() : 0.0f;
    meters.voiceActive = voiceTracker_.voiceActive();
  }

  ParameterBlock params{};
  ChainMeters meters{};

 private:
  static void measure(const float* samples, int count, float& peak, float& meanSquare) {
    peak = 0.0f;
    float sum = 0.0f;
    for (int i = 0; i < count; ++i) {
      peak = std::max(peak, std::fabs(samples[i]));
      sum = std::min(sum + samples[i] * samples[i], std::numeric_limits<float>::max());
    }
    meanSquare = sum / static_cast<float>(count);
  }

  double sampleRate_ = 48000.0;
  float inputGain_ = 1.0f, outputGain_ = 1.0f, muteGain_ = 1.0f, muteStep_ = 0.0f;
  DcBlocker dcBlocker_;
  HighPassFilter highPass_;
  HumFilter humFilter_;
  ReferenceNoiseSuppressor<Transform> suppressor_;
  LevelTracker voiceTracker_;
  LevelTracker inputTracker_;
  PlosiveSuppressor plosive_;
  NoiseGate gate_;
  Equalizer equalizer_;
  ReferenceDeEsser deEsser_;
  ReferenceLoudnessAgc agc_;
  ReferenceCompressor compressor_;
  ReferenceVoiceEffect voiceEffect_;
  ReferenceLimiter limiter_;
};

}  // namespace vorlund::reference
