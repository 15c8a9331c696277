// Layer: signal
// Fixed 10 Hz DC blocker at the head of the chain: y = (x - x[n-1]) + pole * y[n-1].
#pragma once

namespace vorlund {

class DcBlocker {
 public:
  static constexpr double kCornerHz = 10.0;

  void prepare(double sampleRate) noexcept;
  float process(float x) noexcept {
    const float y = (x - prevIn_) + pole_ * prevOut_;
    prevIn_ = x;
    prevOut_ = y;
    return y;
  }
  void reset() noexcept { prevIn_ = prevOut_ = 0.0f; }
  float pole() const noexcept { return pole_; }

 private:
  float pole_ = 0.0f;
  float prevIn_ = 0.0f;
  float prevOut_ = 0.0f;
};

}  // namespace vorlund
