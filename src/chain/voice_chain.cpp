#include "chain/voice_chain.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "chain/gain.h"

namespace vorlund {
namespace {

struct BlockMeasure {
  float peak;
  float meanSquare;
};

// Peak and mean square in sample order, float accumulation. The sum saturates at the largest
// float: with the limiter off and every gain at its top the output's squares overflow, and an
// infinite mean square would reach the published meters.
BlockMeasure measure(const float* samples, int count) noexcept {
  float peak = 0.0f;
  float sum = 0.0f;
  for (int i = 0; i < count; ++i) {
    const float x = samples[i];
    const float magnitude = std::fabs(x);
    if (magnitude > peak) peak = magnitude;
    sum = std::min(sum + x * x, std::numeric_limits<float>::max());
  }
  return {peak, sum / static_cast<float>(count)};
}

// A full mute fade takes 10 ms.
constexpr double kMuteRampSeconds = 0.01;

}  // namespace

VoiceChain::VoiceChain() noexcept {
  setDefaults(params);
}

void VoiceChain::prepare(double rate) {
  sampleRate = rate;
  dcBlocker_.prepare(rate);
  suppressor_.prepare(rate);
  voiceTracker_.prepare(rate);
  inputTracker_.prepare(rate);
  gate_.prepare(rate);
  compressor_.prepare(rate);
  limiter_.prepare(rate);
  agc_.prepare(rate);
  deEsser_.prepare(rate);
  plosive_.prepare(rate);
  humFilter_.prepare(rate);
  voiceEffect_.prepare(rate);
  muteStep_ = 1.0f / static_cast<float>(rate * kMuteRampSeconds);
  prepared = true;
  update();
  reset();
}

void VoiceChain::update() noexcept {
  inputGain_ = dbToGain(params.inputGainDb);
  outputGain_ = dbToGain(params.outputGainDb);
  highPass_.configure(params.highPassEnabled != 0, params.highPassHz, params.highPassOrder,
                      sampleRate);
  humFilter_.configure(params.humFilterEnabled != 0, params.humBaseHz, params.humHarmonics);
  suppressor_.configure(params.nsEnabled != 0, params.nsReductionDb, params.nsStrength);
  plosive_.configure(params.plosiveEnabled != 0, params.plosiveStrength);
  gate_.configure(params.gateEnabled != 0, params.gateThresholdDb, params.gateRangeDb,
                  params.gateAttackMs, params.gateHoldMs, params.gateReleaseMs);
  equalizer_.configure(params.eqBands, params.toneLow, params.tonePresence, params.toneAir,
                       sampleRate);
  deEsser_.configure(params.deEsserEnabled != 0, params.deEsserHz, params.deEsserAmount);
  agc_.configure(params.agcEnabled != 0, params.agcTargetDb, params.agcMaxGainDb, params.agcSpeed);
  compressor_.configure(params.compEnabled != 0, params.compThresholdDb, params.compRatio,
                        params.compAttackMs, params.compReleaseMs, params.compKneeDb,
                        params.compMakeupDb, params.compAutoMakeup != 0);
  voiceEffect_.configure(params.effectMode, params.effectMix, params.effectParam);
  limiter_.configure(params.limiterEnabled != 0, params.limiterCeilingDb);
}

void VoiceChain::reset() noexcept {
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
  // The voice effect keeps its state: it clears itself when its mode changes.
  // No ramp after a reset: a muted stream is silent from its first sample.
  muteGain_ = params.mute != 0 ? 0.0f : 1.0f;
}

int VoiceChain::latencySamples() const noexcept {
  return suppressor_.frameSize() + limiter_.lookaheadSamples() - 1;
}

void VoiceChain::process(float* samples, int count) noexcept {
  if (count <= 0) return;

  const BlockMeasure raw = measure(samples, count);
  meters.inputPeak = raw.peak;
  meters.inputMeanSquare = raw.meanSquare;
  inputTracker_.process(samples, count);
  meters.inputBackgroundDb = inputTracker_.backgroundDb();

  if (params.bypass != 0) {
    meters.outputPeak = raw.peak;
    meters.outputMeanSquare = raw.meanSquare;
    meters.gateGain = 1.0f;
    meters.compressorReductionDb = 0.0f;
    meters.limiterMinGain = 1.0f;
    meters.agcGainDb = 0.0f;
    meters.deEsserMinGain = 1.0f;
    meters.plosiveMinGain = 1.0f;
    meters.suppressorAttenuationDb = 0.0f;
    return;
  }

  const float inputGain = inputGain_;
  for (int i = 0; i < count; ++i) {
    float x = samples[i] * inputGain;
    x = dcBlocker_.process(x);
    x = highPass_.process(x);
    x = humFilter_.process(x);
    samples[i] = x;
  }

  for (int i = 0; i < count; ++i) samples[i] = suppressor_.processSample(samples[i]);

  voiceTracker_.process(samples, count);
  // Replaces, for this block, the thresholds update() took from the record.
  if (params.gateAuto != 0) gate_.setAutoThreshold(voiceTracker_.backgroundDb());

  const bool eqEnabled = params.eqEnabled != 0;
  for (int i = 0; i < count; ++i) {
    float x = samples[i];
    x = plosive_.process(x);
    x = gate_.process(x);
    if (eqEnabled) x = equalizer_.process(x);
    x = deEsser_.process(x);
    samples[i] = x;
  }

  agc_.process(samples, count, voiceTracker_.voiceActive());

  for (int i = 0; i < count; ++i) samples[i] = compressor_.process(samples[i]);

  voiceEffect_.process(samples, count);

  runOutputStage(samples, count);
  measureOutput(samples, count);
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

// Output gain, then the limiter (whose delay line always runs), then the mute ramp.
void VoiceChain::runOutputStage(float* samples, int count) noexcept {
  const float outputGain = outputGain_;
  const float muteTarget = params.mute != 0 ? 0.0f : 1.0f;
  const float muteStep = muteStep_;
  float muteGain = muteGain_;
  for (int i = 0; i < count; ++i) {
    const float y = limiter_.process(samples[i] * outputGain);
    if (muteGain < muteTarget) {
      muteGain = std::min(muteGain + muteStep, muteTarget);
    } else if (muteGain > muteTarget) {
      muteGain = std::max(muteGain - muteStep, muteTarget);
    }
    samples[i] = muteGain * y;
  }
  muteGain_ = muteGain;
}

void VoiceChain::measureOutput(const float* samples, int count) noexcept {
  const BlockMeasure out = measure(samples, count);
  meters.outputPeak = out.peak;
  meters.outputMeanSquare = out.meanSquare;
}

}  // namespace vorlund
