// Layer: signal
// The instruction set the vector passes run on: SSE2, which every x86-64 processor carries, or
// AVX2 with twice the lanes where the processor and the operating system support it. Both give
// the same bits. A path may be forced (the environment variable VORLUND_SIMD=sse2|avx2, which
// the layers above read, for tests and for odd machines); avx2 is honoured only where it can
// run. Chosen when a stage is prepared, never on the real-time path.
#pragma once

#include <optional>
#include <string_view>

namespace vorlund {

enum class VectorPath { Sse2, Avx2 };

// True when the processor has AVX2 and the operating system saves the 256-bit registers.
bool avx2Supported() noexcept;
// The path "sse2" or "avx2" names, if `name` is one of them.
std::optional<VectorPath> vectorPathNamed(std::string_view name) noexcept;
// Any thread, before stages are prepared: the path they prepare on from now on, or with
// nothing the best supported. Process-wide, as the processor is.
void forceVectorPath(std::optional<VectorPath> path) noexcept;
// The path prepared stages take now: the forced one if runnable, else the best supported.
VectorPath chosenVectorPath() noexcept;
// "SSE2" or "AVX2".
const char* vectorPathName(VectorPath path) noexcept;

}  // namespace vorlund
