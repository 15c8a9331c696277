// Layer: signal
// The settings of every stage the record configures, built from the parameter record in this one
// place: the chain and its straightforward form in the tests configure alike.
#pragma once

#include "chain/compressor.h"
#include "chain/de_esser.h"
#include "chain/equalizer.h"
#include "chain/high_pass_filter.h"
#include "chain/hum_filter.h"
#include "chain/lookahead_limiter.h"
#include "chain/loudness_agc.h"
#include "chain/noise_gate.h"
#include "chain/plosive_suppressor.h"
#include "engine/parameter_block.h"
#include "suppressor/noise_suppressor.h"
#include "suppressor/voice_effect.h"

namespace vorlund {

inline NoiseGate::Settings gateSettings(const ParameterBlock& p) noexcept {
  return {.enabled = p.gateEnabled != 0,
          .thresholdDb = p.gateThresholdDb,
          .rangeDb = p.gateRangeDb,
          .attackMs = p.gateAttackMs,
          .holdMs = p.gateHoldMs,
          .releaseMs = p.gateReleaseMs};
}

inline LoudnessAgc::Settings agcSettings(const ParameterBlock& p) noexcept {
  return {.enabled = p.agcEnabled != 0,
          .targetDb = p.agcTargetDb,
          .maxGainDb = p.agcMaxGainDb,
          .speed = p.agcSpeed};
}

inline Compressor::Settings compressorSettings(const ParameterBlock& p) noexcept {
  return {.enabled = p.compEnabled != 0,
          .thresholdDb = p.compThresholdDb,
          .ratio = p.compRatio,
          .attackMs = p.compAttackMs,
          .releaseMs = p.compReleaseMs,
          .kneeDb = p.compKneeDb,
          .makeupDb = p.compMakeupDb,
          .autoMakeup = p.compAutoMakeup != 0};
}

inline HighPassFilter::Settings highPassSettings(const ParameterBlock& p) noexcept {
  return {.enabled = p.highPassEnabled != 0, .cornerHz = p.highPassHz, .order = p.highPassOrder};
}

inline HumFilter::Settings humSettings(const ParameterBlock& p) noexcept {
  return {.enabled = p.humFilterEnabled != 0, .baseHz = p.humBaseHz, .harmonics = p.humHarmonics};
}

inline NoiseSuppressor::Settings suppressorSettings(const ParameterBlock& p) noexcept {
  return {.enabled = p.nsEnabled != 0, .reductionDb = p.nsReductionDb, .strength = p.nsStrength};
}

inline PlosiveSuppressor::Settings plosiveSettings(const ParameterBlock& p) noexcept {
  return {.enabled = p.plosiveEnabled != 0, .strength = p.plosiveStrength};
}

inline Equalizer::Settings equalizerSettings(const ParameterBlock& p) noexcept {
  return {.bands = p.eqBands,
          .toneLow = p.toneLow,
          .tonePresence = p.tonePresence,
          .toneAir = p.toneAir};
}

inline DeEsser::Settings deEsserSettings(const ParameterBlock& p) noexcept {
  return {.enabled = p.deEsserEnabled != 0, .frequencyHz = p.deEsserHz, .amount = p.deEsserAmount};
}

inline LookaheadLimiter::Settings limiterSettings(const ParameterBlock& p) noexcept {
  return {.enabled = p.limiterEnabled != 0, .ceilingDb = p.limiterCeilingDb};
}

inline VoiceEffect::Settings voiceEffectSettings(const ParameterBlock& p) noexcept {
  return {.mode = static_cast<VoiceEffectMode>(p.effectMode),
          .mix = p.effectMix,
          .param = p.effectParam};
}

}  // namespace vorlund
