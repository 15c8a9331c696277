// Layer: signal
// Built twice: as it stands (four lanes, SSE2) and with VORLUND_WIDE_LANES (eight lanes, AVX2,
// no contraction into fused multiply-adds), see src/CMakeLists.txt; as the suppressor's kernels.
#include "chain/lane_kernels.h"

#include "chain/biquad_cascade.h"
#include "chain/fast_math.h"
#include "chain/gain.h"
#include "chain/lanes.h"

namespace vorlund {
inline namespace VORLUND_LANE_SET {
namespace {

template <typename T>
inline T overThresholdDb(T x, float thresholdDb, float quietLevel) noexcept {
  const T magnitude = maxOf(x, -x);
  const T db = magnitude > broadcast<T>(kCompressorQuietest) ? 20.0f * fastLog10(magnitude)
                                                             : broadcast<T>(kCompressorQuietestDb);
  return magnitude < broadcast<T>(quietLevel) ? broadcast<T>(-__builtin_huge_valf())
                                              : db - thresholdDb;
}

void levels(const float* x, float* db, int count, float thresholdDb, float quietLevel) noexcept {
  int i = 0;
  for (; i + kLaneCount <= count; i += kLaneCount)
    store(db + i, overThresholdDb(load<Lanes>(x + i), thresholdDb, quietLevel));
  for (; i < count; ++i) db[i] = overThresholdDb(x[i], thresholdDb, quietLevel);
}

// dbToGain of gain.h, spelt out: its float overload lives outside the lane set's namespace, and
// an AVX2 copy of it must never be what the linker keeps for the SSE2 code.
template <typename T>
inline T gainOf(T db) noexcept {
  return fastExp(db * kDbToNeper);
}

void applyGains(float* x, const float* db, int count) noexcept {
  int i = 0;
  for (; i + kLaneCount <= count; i += kLaneCount)
    store(x + i, load<Lanes>(x + i) * gainOf(load<Lanes>(db + i)));
  for (; i < count; ++i) x[i] *= gainOf(db[i]);
}

void saturate(float* x, int count, float drive, float norm, float wetGain) noexcept {
  int i = 0;
  for (; i + kLaneCount <= count; i += kLaneCount)
    store(x + i, fastTanh(load<Lanes>(x + i) * drive) * norm * wetGain);
  for (; i < count; ++i) x[i] = fastTanh(x[i] * drive) * norm * wetGain;
}

void cascade(BiquadSection* const* sections, int sectionCount, float* samples, int count) noexcept {
  withLocalCascade<kMaxKernelCascade>(sections, sectionCount,
                                      [&](auto& c) { c.processBlock(samples, count); });
}

constexpr LaneKernels kKernels{levels, applyGains, saturate, cascade};

}  // namespace

const LaneKernels& laneKernels() noexcept {
  return kKernels;
}

}  // namespace VORLUND_LANE_SET

#if !defined(VORLUND_WIDE_LANES)
const LaneKernels& laneKernels(VectorPath path) noexcept {
  return path == VectorPath::Avx2 ? avx2::laneKernels() : sse2::laneKernels();
}
#endif

}  // namespace vorlund
