// The instruction set the vector passes run on: SSE2, which every x86-64 processor carries, or
// AVX2 with twice the lanes where the processor and the operating system support it. Both give
// the same bits. The environment variable VORLUND_SIMD=sse2|avx2 forces a path (for tests and
// for odd machines); avx2 is honoured only where it can run. Chosen when a stage is prepared,
// never on the real-time path.
#pragma once

namespace vorlund {

enum class VectorPath { Sse2, Avx2 };

// True when the processor has AVX2 and the operating system saves the 256-bit registers.
bool avx2Supported() noexcept;
// The path prepared stages take now: VORLUND_SIMD if set and runnable, else the best supported.
VectorPath chosenVectorPath() noexcept;
// "SSE2" or "AVX2".
const char* vectorPathName(VectorPath path) noexcept;

}  // namespace vorlund
