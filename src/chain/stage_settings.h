// The settings of the stages that take them as a struct (compressor, gate, automatic gain), built
// from the parameter record in this one place: the chain and its straightforward form in the tests
// configure alike.
#pragma once

#include "chain/compressor.h"
#include "chain/loudness_agc.h"
#include "chain/noise_gate.h"
#include "engine/parameter_block.h"

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

}  // namespace vorlund
