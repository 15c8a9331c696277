// vorlund-process --report: one self-contained HTML page of what the effect did to a
// recording: players for the input and the output with an A/B switch, spectrograms of both (a
// PNG, embedded, with time and frequency axes and a level scale), the meters over time of the
// stages that acted as SVG line plots, and the run's summary.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "common/stream_state.h"
#include "engine/parameter_block.h"
#include "suppressor/fft.h"

namespace vorlund {

// A spectrogram built while the samples stream past: a column every `hop` frames of the
// channels' mean, each the power spectrum of a Hann-windowed frame. It keeps the mean's first
// kListenSeconds too, for the page's player.
class Spectrogram {
 public:
  static constexpr int kFftSize = 2048;
  static constexpr double kListenSeconds = 60.0;

  // About `columns` columns over `expectedFrames`.
  Spectrogram(double sampleRate, int channels, std::size_t expectedFrames, std::size_t columns);
  void add(const float* interleaved, std::size_t frames);

  double sampleRate() const noexcept { return sampleRate_; }
  std::size_t columnCount() const noexcept { return columns_.size(); }
  // Power of bin `bin` (0 .. kFftSize / 2) in column `column`, as dBFS of a sine.
  float levelDb(std::size_t column, int bin) const;
  // Seconds from the start to the middle of column `column` (fractions between columns).
  double columnSeconds(double column) const noexcept;
  // The kept start of the recording as a 16-bit mono WAV file (bytes).
  std::vector<unsigned char> listeningWav() const;
  // Seconds of the recording the player holds.
  double listeningSeconds() const noexcept;

 private:
  void addColumn();

  double sampleRate_;
  int channels_;
  std::size_t hop_;
  std::vector<float> ring_;  // the last kFftSize samples, oldest at next_
  std::size_t next_ = 0;
  std::size_t seen_ = 0;
  std::vector<double> window_;
  Fft fft_;
  std::vector<float> re_, im_;
  std::vector<std::vector<float>> columns_;
  std::vector<float> listening_;
};

// The meters at one moment, for the plots.
struct MeterSample {
  double seconds = 0.0;
  StreamReading reading;
};

struct ReportContent {
  std::string title;  // "IN -> OUT"
  std::string summary;
  const Spectrogram* input = nullptr;
  const Spectrogram* output = nullptr;
  std::vector<MeterSample> meters;
  const ParameterBlock* record = nullptr;  // tells stages that are off from those that idled
};

// The spectrograms, input above output, as one PNG (bytes).
std::vector<unsigned char> spectrogramPng(const Spectrogram& input, const Spectrogram& output);

// The spectrograms' PNG alone; throws ProcessError(inputFile) when it cannot be written.
void writeSpectrograms(const std::string& path, const Spectrogram& input,
                       const Spectrogram& output);

// The page. Throws ProcessError(inputFile) when it cannot be written; `pngPath`, when not
// empty, receives the spectrograms' PNG as well.
void writeReport(const std::string& path, const ReportContent& content, const std::string& pngPath);

}  // namespace vorlund
