#include "common/loudness_meter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vorlund {
namespace {

// The K-weighting pair of BS.1770 designed for any rate (its 48 kHz coefficients come out
// exactly): a +4 dB shelf for the head, then the RLB high-pass. The AGC's cookbook shelf is
// 0.27 dB off at 1 kHz, enough for steering gain but not for a measurement.
constexpr double kShelfHz = 1681.974450955533;
constexpr double kShelfGainDb = 3.999843853973347;
constexpr double kShelfQ = 0.7071752369554196;
constexpr double kShelfBandExponent = 0.4996667741545416;
constexpr double kHighPassHz = 38.13547087602444;
constexpr double kHighPassQ = 0.5003270373238773;
constexpr double kLoudnessOffset = -0.691;

void designShelf(BiquadSection& section, double sampleRate) {
  const double k = std::tan(std::numbers::pi * kShelfHz / sampleRate);
  const double high = std::pow(10.0, kShelfGainDb / 20.0);
  const double band = std::pow(high, kShelfBandExponent);
  const double a0 = 1.0 + k / kShelfQ + k * k;
  section.b0 = static_cast<float>((high + band * k / kShelfQ + k * k) / a0);
  section.b1 = static_cast<float>(2.0 * (k * k - high) / a0);
  section.b2 = static_cast<float>((high - band * k / kShelfQ + k * k) / a0);
  section.a1 = static_cast<float>(2.0 * (k * k - 1.0) / a0);
  section.a2 = static_cast<float>((1.0 - k / kShelfQ + k * k) / a0);
}

void designHighPass(BiquadSection& section, double sampleRate) {
  const double k = std::tan(std::numbers::pi * kHighPassHz / sampleRate);
  const double a0 = 1.0 + k / kHighPassQ + k * k;
  section.b0 = 1.0f;
  section.b1 = -2.0f;
  section.b2 = 1.0f;
  section.a1 = static_cast<float>(2.0 * (k * k - 1.0) / a0);
  section.a2 = static_cast<float>((1.0 - k / kHighPassQ + k * k) / a0);
}

constexpr double kStepSeconds = 0.1;
constexpr std::size_t kStepsPerBlock = 4;
constexpr double kAbsoluteGateLufs = -70.0;
constexpr double kRelativeGateLu = -10.0;

double lufs(double meanSquare) {
  return kLoudnessOffset + 10.0 * std::log10(meanSquare);
}

// Loudness of the mean of the blocks above `gateLufs`, or kNoLoudness.
double gatedLoudness(const std::vector<double>& blocks, double gateLufs) {
  double sum = 0.0;
  std::size_t count = 0;
  for (double power : blocks) {
    if (power > 0.0 && lufs(power) > gateLufs) {
      sum += power;
      ++count;
    }
  }
  return count == 0 ? LoudnessMeter::kNoLoudness : lufs(sum / static_cast<double>(count));
}

}  // namespace

LoudnessMeter::LoudnessMeter(double sampleRate, int channels)
    : channels_(channels),
      stepFrames_(static_cast<std::size_t>(std::lround(sampleRate * kStepSeconds))),
      filters_(static_cast<std::size_t>(channels)) {
  for (ChannelFilter& filter : filters_) {
    designShelf(filter.shelf, sampleRate);
    designHighPass(filter.highPass, sampleRate);
  }
}

void LoudnessMeter::add(const float* interleaved, std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels_; ++c) {
      ChannelFilter& filter = filters_[static_cast<std::size_t>(c)];
      const float weighted =
          filter.highPass.process(filter.shelf.process(interleaved[i * channels_ + c]));
      stepSum_ += static_cast<double>(weighted) * weighted;
    }
    if (++stepFill_ < stepFrames_) continue;
    steps_.push_back(stepSum_ / static_cast<double>(stepFrames_));
    stepSum_ = 0.0;
    stepFill_ = 0;
    if (steps_.size() >= kStepsPerBlock) {
      double block = 0.0;
      for (std::size_t k = steps_.size() - kStepsPerBlock; k < steps_.size(); ++k)
        block += steps_[k];
      blockPower_.push_back(block / static_cast<double>(kStepsPerBlock));
    }
  }
}

double LoudnessMeter::lufsOf(double meanSquare) {
  return meanSquare > 0.0 ? lufs(meanSquare) : kNoLoudness;
}

double LoudnessMeter::integratedLufs() const {
  const double ungated = gatedLoudness(blockPower_, kAbsoluteGateLufs);
  if (ungated == kNoLoudness) return kNoLoudness;
  return gatedLoudness(blockPower_, std::max(kAbsoluteGateLufs, ungated + kRelativeGateLu));
}

}  // namespace vorlund
