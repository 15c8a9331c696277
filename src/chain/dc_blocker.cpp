#include "chain/dc_blocker.h"

#include <cmath>

#include "chain/numbers.h"

namespace vorlund {

void DcBlocker::prepare(double sampleRate) noexcept {
  pole_ = sampleRate > 0.0 ? static_cast<float>(std::exp(-kTwoPi * kCornerHz / sampleRate)) : 0.0f;
}

}  // namespace vorlund
