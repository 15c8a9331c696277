// Every float of each range through the chain's float maths, against the double reference:
// the exhaustive form of the strided sweep in the unit suite (minutes of CPU, label
// "exhaustive"; it runs only when VORLUND_EXHAUSTIVE=1 and skips otherwise).
#include <cstdio>
#include <cstdlib>

#include "chain/fast_math_sweep.h"

int main(int argc, char** argv) {
  constexpr int kSkipped = 77;
  const char* wanted = std::getenv("VORLUND_EXHAUSTIVE");
  if (argc < 2 && !(wanted && std::string(wanted) == "1")) {
    std::puts("skipped: set VORLUND_EXHAUSTIVE=1 to sweep every float (several minutes)");
    return kSkipped;
  }
  const auto stride = static_cast<std::uint32_t>(argc > 1 ? std::atoi(argv[1]) : 1);
  bool ok = true;
  for (const auto& r : vorlund::test::sweepAll(stride == 0 ? 1 : stride)) {
    std::printf(
        "%-6s [%g, %g]: %llu floats, %.5f%% correctly rounded, worst %lld ulp at %a, "
        "lane mismatches %llu\n",
        r.name.c_str(), r.low, r.high, static_cast<unsigned long long>(r.count),
        100.0 * static_cast<double>(r.exact) / static_cast<double>(r.count),
        static_cast<long long>(r.worstUlps), r.worstAt,
        static_cast<unsigned long long>(r.laneMismatches));
    ok = ok && r.worstUlps <= 1 && r.laneMismatches == 0;
  }
  return ok ? 0 : 1;
}
