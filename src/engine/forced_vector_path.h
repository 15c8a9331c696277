// Layer: engine
// VORLUND_SIMD, the vector path a user forces (sse2, or avx2 where it can run): read from this
// process's environment when the effect prepares its stages, so a variable set or changed
// meanwhile counts from the next stream on.
#pragma once

namespace vorlund {

// Configuration thread: reads VORLUND_SIMD and hands it to the signal layer, whose stages take
// it when they are next prepared; unset or unknown values leave the best supported path.
void applyForcedVectorPath() noexcept;

}  // namespace vorlund
