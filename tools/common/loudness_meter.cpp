#include "common/loudness_meter.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace vorlund {
namespace {

constexpr double kLoudnessOffset = -0.691;
constexpr unsigned long kStepMs = 100;

}  // namespace

void LoudnessMeter::Release::operator()(ebur128_state* state) const {
  ebur128_destroy(&state);
}

LoudnessMeter::LoudnessMeter(double sampleRate, int channels)
    : state_(ebur128_init(static_cast<unsigned>(channels), std::lround(sampleRate),
                          EBUR128_MODE_M | EBUR128_MODE_I)),
      channels_(channels),
      stepFrames_(static_cast<std::size_t>(std::lround(sampleRate * kStepMs / 1000.0))) {
  if (!state_) throw std::bad_alloc();
  // libebur128 weighs a fourth and fifth channel as surround (1.41) and makes a third the
  // centre; every channel here weighs 1.0.
  for (int c = 0; c < channels; ++c) ebur128_set_channel(state_.get(), c, EBUR128_CENTER);
}

void LoudnessMeter::add(const float* interleaved, std::size_t frames) {
  while (frames > 0) {
    const std::size_t take = std::min(frames, stepFrames_ - stepFill_);
    ebur128_add_frames_float(state_.get(), interleaved, take);
    interleaved += take * static_cast<std::size_t>(channels_);
    frames -= take;
    stepFill_ += take;
    if (stepFill_ < stepFrames_) continue;
    stepFill_ = 0;
    double lufs = 0.0;
    const bool measured = ebur128_loudness_window(state_.get(), kStepMs, &lufs) == EBUR128_SUCCESS;
    steps_.push_back(
        measured && std::isfinite(lufs) ? std::pow(10.0, (lufs - kLoudnessOffset) / 10.0) : 0.0);
  }
}

double LoudnessMeter::integratedLufs() const {
  double lufs = 0.0;
  if (ebur128_loudness_global(state_.get(), &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs))
    return kNoLoudness;
  return lufs;
}

double LoudnessMeter::lufsOf(double meanSquare) {
  return meanSquare > 0.0 ? kLoudnessOffset + 10.0 * std::log10(meanSquare) : kNoLoudness;
}

}  // namespace vorlund
