// Layer: record
// Per-block measures of the voice chain, read by the meter publisher after each block.
#pragma once

namespace vorlund {

struct ChainMeters {
  float inputPeak = 0.0f;
  float inputMeanSquare = 0.0f;
  float outputPeak = 0.0f;
  float outputMeanSquare = 0.0f;
  float gateGain = 1.0f;
  float compressorReductionDb = 0.0f;
  float limiterMinGain = 1.0f;
  float agcGainDb = 0.0f;
  float deEsserMinGain = 1.0f;
  float plosiveMinGain = 1.0f;
  float suppressorAttenuationDb = 0.0f;
  float inputBackgroundDb = -100.0f;
  bool voiceActive = false;
};

}  // namespace vorlund
