// Layer: signal
#include "chain/vector_path.h"

#include <cpuid.h>

#include <atomic>
#include <cstdint>

namespace vorlund {
namespace {

// CPUID leaf 1, ECX: XSAVE enabled by the operating system, AVX; leaf 7, EBX: AVX2.
constexpr unsigned kOsXsaveBit = 1u << 27;
constexpr unsigned kAvxBit = 1u << 28;
constexpr unsigned kAvx2Bit = 1u << 5;
// XCR0: the operating system saves the SSE and the upper AVX halves of the registers.
constexpr std::uint64_t kSseAndAvxState = 0x6;

// The forced path, or kNotForced.
constexpr int kNotForced = -1;
std::atomic<int> forcedPath{kNotForced};

}  // namespace

bool avx2Supported() noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid(1, eax, ebx, ecx, edx);
  if ((ecx & kOsXsaveBit) == 0 || (ecx & kAvxBit) == 0) return false;
  std::uint32_t low = 0, high = 0;
  // xgetbv with ECX = 0 reads XCR0; written out so no compiler flag for XSAVE is needed.
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  const std::uint64_t xcr0 = (static_cast<std::uint64_t>(high) << 32) | low;
  if ((xcr0 & kSseAndAvxState) != kSseAndAvxState) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & kAvx2Bit) != 0;
}

std::optional<VectorPath> vectorPathNamed(std::string_view name) noexcept {
  if (name == "sse2") return VectorPath::Sse2;
  if (name == "avx2") return VectorPath::Avx2;
  return std::nullopt;
}

void forceVectorPath(std::optional<VectorPath> path) noexcept {
  forcedPath.store(path ? static_cast<int>(*path) : kNotForced, std::memory_order_relaxed);
}

VectorPath chosenVectorPath() noexcept {
  if (forcedPath.load(std::memory_order_relaxed) == static_cast<int>(VectorPath::Sse2))
    return VectorPath::Sse2;
  return avx2Supported() ? VectorPath::Avx2 : VectorPath::Sse2;
}

const char* vectorPathName(VectorPath path) noexcept {
  return path == VectorPath::Avx2 ? "AVX2" : "SSE2";
}

}  // namespace vorlund
