// Measures of how well a processed signal recovers the clean speech of a SpeechSignal, after
// undoing the processing's delay and its overall gain (the least-squares factor that best maps
// the output onto the clean speech), so a louder or quieter output is not mistaken for
// distortion.
#pragma once

#include <vector>

#include "bench_support.h"

namespace vorlund::bench {

// The first seconds are left out: noise learning and level settling.
constexpr double kQualitySkipSeconds = 5.0;

struct QualityFigures {
  // Clean speech power over the power of (clean - scaled output), dB.
  double sdrDb = 0.0;
  // Power of the scaled output in the pauses, dB re full scale.
  double pauseLevelDb = 0.0;
  // The output's power around speech over its power in the pauses, dB, as it stands (neither
  // scaled nor phase-matched to the speech): how far the noise lies under the voice.
  double voiceToPauseDb = 0.0;
  // Mean over speech frames of the RMS difference of the log power spectra, 100 Hz to 8 kHz.
  double logSpectralDistanceDb = 0.0;
};

// `output[t + latency]` is taken as the estimate of `signal.speech[t]`.
QualityFigures measureQuality(const SpeechSignal& signal, const std::vector<float>& output,
                              int latency, double sampleRate);

}  // namespace vorlund::bench
