#include "plain_anchor.h"

#include <algorithm>
#include <cmath>

namespace vorlund::bench {

void PlainLoopAnchor::prepare(double sampleRate) {
  // Fifteen audible, different sections: a peaking equaliser with bands an octave-third apart.
  for (int i = 0; i < kSections; ++i)
    designBiquad(sections_[i], FilterType::Peaking, sampleRate, 60.0 * std::pow(1.4, i),
                 i % 2 == 0 ? 3.0 : -3.0, 1.0);
  fft_.setup(kTransformSize);
  history_.assign(kTransformSize, 0.0f);
  re_.assign(kTransformSize, 0.0f);
  im_.assign(kTransformSize, 0.0f);
  filled_ = 0;
  sinceTransform_ = 0;
}

void PlainLoopAnchor::process(float* samples, int count) noexcept {
  for (int i = 0; i < count; ++i) {
    float x = samples[i];
    for (BiquadSection& s : sections_) x = s.process(x);
    samples[i] = x;
    history_[filled_] = x;
    filled_ = (filled_ + 1) % kTransformSize;
    if (++sinceTransform_ == kHop) {
      sinceTransform_ = 0;
      std::rotate_copy(history_.begin(), history_.begin() + filled_, history_.end(), re_.begin());
      std::fill(im_.begin(), im_.end(), 0.0f);
      fft_.transform(re_.data(), im_.data(), false);
      fft_.transform(re_.data(), im_.data(), true);
      sink_ += re_[kHop];
    }
  }
}

}  // namespace vorlund::bench
