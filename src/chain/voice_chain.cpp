#include "chain/voice_chain.h"

#include <cmath>

#include "chain/gain.h"

namespace vorlund {
namespace {

struct BlockMeasure {
  float peak;
  float meanSquare;
};

// Peak and mean square in sample order, float accumulation.
BlockMeasure measure(const float* samples, int count) noexcept {
  float peak = 0.0f;
  float sum = 0.0f;
  for (int i = 0; i < count; ++i) {
    const float x = samples[i];
    const float magnitude = std::fabs(x);
    if (magnitude > peak) peak = magnitude;
    sum += x * x;
  }
  return {peak, sum / static_cast<float>(count)};
}

}  // namespace

VoiceChain::VoiceChain() noexcept {
  setDefaults(params);
}

void VoiceChain::prepare(double rate) {
  sampleRate = rate;
  dcBlocker_.prepare(rate);
  humFilter_.prepare(rate);
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
}

void VoiceChain::reset() noexcept {
  dcBlocker_.reset();
  highPass_.reset();
  humFilter_.reset();
}

void VoiceChain::relearnNoise() noexcept {
  // No stage of this chain learns the background noise yet.
}

// Every stage so far is a recursive filter without look-ahead.
int VoiceChain::latencySamples() const noexcept {
  return 0;
}

void VoiceChain::process(float* samples, int count) noexcept {
  if (count <= 0) return;

  const BlockMeasure raw = measure(samples, count);
  meters.inputPeak = raw.peak;
  meters.inputMeanSquare = raw.meanSquare;

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

  const float outputGain = outputGain_;
  for (int i = 0; i < count; ++i) samples[i] *= outputGain;

  measureOutput(samples, count);
}

void VoiceChain::measureOutput(const float* samples, int count) noexcept {
  const BlockMeasure out = measure(samples, count);
  meters.outputPeak = out.peak;
  meters.outputMeanSquare = out.meanSquare;
}

}  // namespace vorlund
