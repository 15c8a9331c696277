// Layer: signal
#include "chain/dc_blocker.h"

#include "chain/fast_math.h"
#include "chain/numbers.h"

namespace vorlund {

void DcBlocker::prepare(double sampleRate) noexcept {
  pole_ = sampleRate > 0.0 ? static_cast<float>(designExp(-kTwoPi * kCornerHz / sampleRate)) : 0.0f;
}

}  // namespace vorlund
