// Layer: engine
#include "engine/block_frame.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>

#include "engine/forced_vector_path.h"
#include "engine/meter_publisher.h"
#include "platform/denormal_guard.h"
#include "platform/performance_counter.h"

namespace vorlund {
namespace {

// Folds frames k .. k + 4 groups - 1 of `in` into `mono`: sum of the channels in channel order
// from 0, times r, limited.
template <int kGroups>
void foldFrames(const float* in, float* mono, std::uint32_t k, std::uint32_t channels,
                float r) noexcept {
  constexpr int kLanes = 4;
  const float* frame0 = in + static_cast<std::size_t>(k) * channels;
  __m128 sum[kGroups];
  for (int g = 0; g < kGroups; ++g) sum[g] = _mm_setzero_ps();
  std::uint32_t c = 0;
  for (; c + kLanes <= channels; c += kLanes) {
    for (int g = 0; g < kGroups; ++g) {
      const float* f = frame0 + static_cast<std::size_t>(g * kLanes) * channels + c;
      __m128 c0 = _mm_loadu_ps(f), c1 = _mm_loadu_ps(f + channels);
      __m128 c2 = _mm_loadu_ps(f + 2 * channels), c3 = _mm_loadu_ps(f + 3 * channels);
      _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
      sum[g] = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(sum[g], c0), c1), c2), c3);
    }
  }
  for (; c < channels; ++c) {
    for (int g = 0; g < kGroups; ++g) {
      const float* f = frame0 + static_cast<std::size_t>(g * kLanes) * channels + c;
      sum[g] = _mm_add_ps(sum[g], _mm_setr_ps(f[0], f[channels], f[2 * channels], f[3 * channels]));
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    alignas(16) float folded[kLanes];
    _mm_store_ps(folded, _mm_mul_ps(sum[g], _mm_set1_ps(r)));
    for (int lane = 0; lane < kLanes; ++lane)
      mono[k + g * kLanes + lane] = BlockFrame::limitSample(folded[lane]);
  }
}

}  // namespace

std::uint32_t effectSwitches(const ParameterBlock& params) noexcept {
  const auto bit = [](Bool32 on, EffectSwitch which) { return on != 0 ? which : 0u; };
  return bit(params.bypass, kBypassSwitch) | bit(params.nsEnabled, kSuppressorSwitch) |
         bit(params.agcEnabled, kAgcSwitch) | bit(params.eqEnabled, kEqualizerSwitch) |
         bit(params.compEnabled, kCompressorSwitch) | bit(params.limiterEnabled, kLimiterSwitch);
}

void BlockFrame::start(const FrameFormat& format) {
  locked_ = false;
  format_ = format;
  sizeExactly(monoBuffer_,
              static_cast<std::size_t>(static_cast<std::uint64_t>(format.maxFrames) + kBufferSlack),
              0.0f);
  applyForcedVectorPath();
  chain_.prepare(static_cast<double>(format.sampleRate));
  SharedBlock* block = channel_.activeBlock();
  // Read whatever the counter says: a record written while unlocked is taken now.
  follower_.start(block);
  if (block != nullptr && follower_.apply(*block, chain_))
    switches_.store(effectSwitches(chain_.record()), std::memory_order_relaxed);
  // prepare() set the mute ramp from the record before this one: start from the new record's
  // mute, so a stream locked muted is silent from its first sample.
  chain_.reset();
  counterFrequency_ = performanceFrequency();
  statistics_ = FrameStatistics{};
  resetRequested_.store(0, std::memory_order_relaxed);
  locked_ = true;
}

void BlockFrame::process(std::uint32_t numInputConnections,
                         APO_CONNECTION_PROPERTY** inputConnections,
                         std::uint32_t numOutputConnections,
                         APO_CONNECTION_PROPERTY** outputConnections) noexcept {
  if (numInputConnections < 1 || numOutputConnections < 1) return;
  if (inputConnections == nullptr || outputConnections == nullptr) return;
  APO_CONNECTION_PROPERTY* input = inputConnections[0];
  APO_CONNECTION_PROPERTY* output = outputConnections[0];
  if (input == nullptr || output == nullptr || !locked_) return;
  if (input->pBuffer == 0 || output->pBuffer == 0) return;

  // Never more than the mono buffer holds, nor more than the output connection can take.
  std::uint32_t count = std::min(input->u32ValidFrameCount, format_.maxFrames);
  if (format_.maxOutputFrames != 0) count = std::min(count, format_.maxOutputFrames);
  const std::uint32_t channels = format_.channels;
  if (channels == 0 || monoBuffer_.size() < count) return;

  DenormalGuard denormals;
  const std::int64_t t0 = performanceCounter();
  runChain(input->u32BufferFlags == BUFFER_SILENT ? nullptr
                                                  : reinterpret_cast<const float*>(input->pBuffer),
           count, channels, nullptr);
  writeOut(*output, count, channels);
  output->u32ValidFrameCount = count;
  output->u32BufferFlags = BUFFER_VALID;
  finishBlock(t0, count);
}

std::uint32_t BlockFrame::processToMono(const float* in, std::uint32_t channels,
                                        std::uint32_t count, float* mono,
                                        BypassFade* fade) noexcept {
  if (!locked_ || mono == nullptr || channels == 0) return 0;
  count = std::min({count, format_.maxFrames, static_cast<std::uint32_t>(monoBuffer_.size())});
  DenormalGuard denormals;
  const std::int64_t t0 = performanceCounter();
  runChain(in, count, channels, fade);
  std::copy(monoBuffer_.data(), monoBuffer_.data() + count, mono);
  finishBlock(t0, count);
  return count;
}

void BlockFrame::runChain(const float* in, std::uint32_t count, std::uint32_t channels,
                          BypassFade* fade) noexcept {
  if (resetRequested_.load(std::memory_order_relaxed) != 0) {
    resetRequested_.exchange(0);
    chain_.reset();
  }
  SharedBlock* block = channel_.activeBlock();
  if (block != nullptr && follower_.follow(*block, chain_))
    switches_.store(effectSwitches(chain_.record()), std::memory_order_relaxed);

  foldToMono(in, count, channels);
  if (fade != nullptr) {
    processWithFade(chain_, *fade, monoBuffer_.data(), count);
  } else {
    chain_.process(monoBuffer_.data(), static_cast<int>(count));
  }
  FrameStatistics& s = statistics_;
  s.blockCount += 1;
  // Written as "greater than" so a NaN meter never replaces the stored peak.
  if (chain_.meters().inputPeak > s.peakInput) s.peakInput = chain_.meters().inputPeak;
  if (chain_.meters().outputPeak > s.peakOutput) s.peakOutput = chain_.meters().outputPeak;
}

void BlockFrame::finishBlock(std::int64_t t0, std::uint32_t count) noexcept {
  FrameStatistics& s = statistics_;
  const std::int64_t t1 = performanceCounter();
  s.processingLoad =
      smoothLoad(s.processingLoad, t1 - t0, counterFrequency_, count, format_.sampleRate);
  // Outside the measured span: the load figure covers the processing, not its publishing.
  if (SharedBlock* block = channel_.activeBlock())
    publishMeters(*block, chain_.meters(), chain_.record().bypass, s.processingLoad);
}

void BlockFrame::foldToMono(const float* in, std::uint32_t count, std::uint32_t channels) noexcept {
  float* mono = monoBuffer_.data();
  if (in == nullptr) {
    std::fill(mono, mono + count, 0.0f);
    return;
  }
  if (channels == 1) {
    for (std::uint32_t k = 0; k < count; ++k) mono[k] = limitSample(in[k]);
    return;
  }
  // Multiply by the float reciprocal, not a division per frame; the sum keeps channel order.
  const float r = 1.0f / static_cast<float>(channels);
  // Four frames per vector, one frame per lane, and four vectors side by side so that their
  // chains of additions overlap: each lane adds its frame's channels in order, exactly as the
  // plain loop below does, so the results are identical to it.
  std::uint32_t k = 0;
  for (; k + 16 <= count; k += 16) foldFrames<4>(in, mono, k, channels, r);
  for (; k + 4 <= count; k += 4) foldFrames<1>(in, mono, k, channels, r);
  const std::uint32_t unrolled = channels & ~3u;
  for (; k < count; ++k) {
    const float* frame = in + static_cast<std::size_t>(k) * channels;
    float sum = 0.0f;
    std::uint32_t c = 0;
    for (; c < unrolled; c += 4) {
      sum += frame[c];
      sum += frame[c + 1];
      sum += frame[c + 2];
      sum += frame[c + 3];
    }
    for (; c < channels; ++c) sum += frame[c];
    mono[k] = limitSample(sum * r);
  }
}

void BlockFrame::writeOut(APO_CONNECTION_PROPERTY& output, std::uint32_t count,
                          std::uint32_t channels) const noexcept {
  float* out = reinterpret_cast<float*>(output.pBuffer);
  const float* mono = monoBuffer_.data();
  if (channels == 1) {
    std::copy(mono, mono + count, out);
    return;
  }
  for (std::uint32_t k = 0; k < count; ++k) {
    std::fill_n(out + static_cast<std::size_t>(k) * channels, channels, mono[k]);
  }
}

}  // namespace vorlund
