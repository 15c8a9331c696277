// vorlund-process --report: one self-contained HTML page of what the effect did to a
// recording: spectrograms of the input and the output (a PNG, embedded), the meters over time
// as SVG line plots, and the run's summary.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "common/stream_state.h"
#include "suppressor/fft.h"

namespace vorlund {

// A spectrogram built while the samples stream past: a column every `hop` frames of the
// channels' mean, each the power spectrum of a Hann-windowed frame.
class Spectrogram {
 public:
  static constexpr int kFftSize = 2048;

  // About `columns` columns over `expectedFrames`.
  Spectrogram(double sampleRate, int channels, std::size_t expectedFrames, std::size_t columns);
  void add(const float* interleaved, std::size_t frames);

  double sampleRate() const noexcept { return sampleRate_; }
  std::size_t columnCount() const noexcept { return columns_.size(); }
  // Power of bin `bin` (0 .. kFftSize / 2) in column `column`, as dBFS of a sine.
  float levelDb(std::size_t column, int bin) const;

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
