// What vorlund-process measures while it runs and tells at the end: peak, RMS and loudness of
// input and output, and the lowest and highest value of every published meter.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "common/loudness_meter.h"
#include "common/recording_figures.h"
#include "common/stream_state.h"
#include "engine/meter_table.h"

namespace vorlund {

// Peak, RMS and loudness of one side of the run.
struct SignalStats {
  SignalStats(double sampleRate, int channels) : loudness(sampleRate, channels) {}
  void add(const float* interleaved, std::size_t frames, int channels);
  double rms() const;

  // At or within a 16-bit step of full scale: where a recording clipped.
  static constexpr double kFullScale = 1.0 - 1.0 / 32768.0;

  double peak = 0.0;
  double sumSquares = 0.0;
  std::size_t samples = 0;
  std::size_t fullScaleSamples = 0;
  LoudnessMeter loudness;
};

// The range of each meter of kMeterFields over the blocks.
struct MeterRanges {
  using Values = std::array<float, kMeterFields.size()>;
  void add(const Values& values);

  Values low{};
  Values high{};
  bool seen = false;
};

// What the summary tells beyond the two sides' signals.
struct RunFacts {
  std::string input;
  std::string output;
  std::string inputFormat;
  std::string outputFormat;
  std::string origin;  // where the record came from
  int channels = 0;
  int sampleRate = 0;
  double seconds = 0.0;
  std::size_t latencyFrames = 0;
  bool aligned = false;
  double cpuSeconds = 0.0;
};

// The mains hum's lines the summary follows: the base and its first harmonics.
std::vector<double> humLines(double baseHz);

// The summary printed after a run; the figures' lines are humLines().
std::string summaryText(const RunFacts& facts, const SignalStats& in, const SignalStats& out,
                        const FrameFigures& inFigures, const FrameFigures& outFigures,
                        const MeterRanges& ranges);

}  // namespace vorlund
