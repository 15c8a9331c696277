#include "common/recording_figures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace vorlund {
namespace {

constexpr double kPauseWithinDb = 3.0;
constexpr double kVoiceAboveDb = 10.0;
// The background is the level of the quietest tenth of the frames.
constexpr double kBackgroundQuantile = 0.1;

double decibels(double power) {
  return power > 0.0 ? 10.0 * std::log10(power) : -std::numeric_limits<double>::infinity();
}

}  // namespace

std::vector<double> hannWindow(std::size_t length) {
  std::vector<double> window(length);
  for (std::size_t n = 0; n < length; ++n)
    window[n] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (n + 0.5) / length);
  return window;
}

FrameFigures::FrameFigures(double sampleRate, int channels, std::vector<double> lines)
    : channels_(channels),
      frameLength_(static_cast<std::size_t>(std::lround(sampleRate * kFrameSeconds))),
      lines_(std::move(lines)),
      window_(hannWindow(frameLength_)),
      phasors_(lines_.size(), 1.0),
      bins_(lines_.size()),
      loudness_(sampleRate, 1) {
  for (double w : window_) windowSum_ += w;
  for (double hz : lines_)
    rotations_.push_back(std::polar(1.0, -2.0 * std::numbers::pi * hz / sampleRate));
}

void FrameFigures::add(const float* interleaved, std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) {
    float sum = 0.0f;
    for (int c = 0; c < channels_; ++c) sum += interleaved[i * channels_ + c];
    const float x = sum / static_cast<float>(channels_);
    loudness_.add(&x, 1);
    sumSquares_ += static_cast<double>(x) * x;
    const double weighted = window_[fill_] * x;
    for (std::size_t k = 0; k < lines_.size(); ++k) {
      bins_[k] += weighted * phasors_[k];
      phasors_[k] *= rotations_[k];
    }
    if (++fill_ < frameLength_) continue;
    meanSquares_.push_back(sumSquares_ / static_cast<double>(frameLength_));
    for (std::size_t k = 0; k < lines_.size(); ++k) {
      linePowers_.push_back(std::norm(bins_[k]));
      bins_[k] = 0.0;
      // Renormalised once a frame, so rounding never lets the phasor drift in size.
      phasors_[k] /= std::abs(phasors_[k]);
    }
    fill_ = 0;
    sumSquares_ = 0.0;
  }
}

double FrameFigures::levelDb(const std::vector<std::size_t>& frames) const {
  double sum = 0.0;
  for (std::size_t f : frames) sum += meanSquares_[f];
  return frames.empty() ? -std::numeric_limits<double>::infinity()
                        : decibels(sum / static_cast<double>(frames.size()));
}

double FrameFigures::loudnessLufs(const std::vector<std::size_t>& frames) const {
  const std::vector<double>& steps = loudness_.stepPowers();
  double sum = 0.0;
  std::size_t count = 0;
  for (std::size_t f : frames) {
    if (f >= steps.size()) continue;
    sum += steps[f];
    ++count;
  }
  return count == 0 ? LoudnessMeter::kNoLoudness
                    : LoudnessMeter::lufsOf(sum / static_cast<double>(count));
}

double FrameFigures::lineLevelDb(std::size_t line, const std::vector<std::size_t>& frames) const {
  double sum = 0.0;
  for (std::size_t f : frames) sum += linePowers_[f * lines_.size() + line];
  if (frames.empty()) return -std::numeric_limits<double>::infinity();
  // A sine of amplitude A at the line gives a bin of A/2 times the window's sum.
  const double amplitude = 2.0 * std::sqrt(sum / static_cast<double>(frames.size())) / windowSum_;
  return 2.0 * decibels(amplitude);
}

Sections findSections(const FrameFigures& input) {
  Sections sections;
  const std::vector<double>& powers = input.meanSquares();
  if (powers.empty()) return sections;
  std::vector<double> sorted = powers;
  const auto quantile =
      sorted.begin() + static_cast<std::ptrdiff_t>(kBackgroundQuantile * (sorted.size() - 1));
  std::nth_element(sorted.begin(), quantile, sorted.end());
  const double background = decibels(*quantile);
  for (std::size_t f = 0; f < powers.size(); ++f) {
    const double level = decibels(powers[f]);
    if (level <= background + kPauseWithinDb) sections.pauses.push_back(f);
    if (level >= background + kVoiceAboveDb) sections.voice.push_back(f);
  }
  return sections;
}

}  // namespace vorlund
