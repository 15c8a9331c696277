// A stream for the control panel's browser tests: a mono 48 kHz stream locked in the data
// folder of %ProgramData% (shared.bin), fed 10 ms blocks in real time of a 300 Hz tone whose
// level alternates between -10 and -40 dBFS every half second, so that the meters move. It
// prints "relearn <frames>" when the noise suppressor's learning restarts, and "ready" once
// the first block is through. Runs until it is killed.
// With --hold-lock FILE it is instead a writer that keeps the writers' lock FILE: it prints
// "held" once it has it, and holds it until it is killed.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string_view>
#include <vector>

#include "engine/processing_lifecycle.h"
#include "engine/stream_connections.h"
#include "platform/file.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  using namespace vorlund;
  if (argc == 3 && std::string_view(argv[1]) == "--hold-lock") {
    File lock;
    if (lock.open(Path::fromUtf8(argv[2]), FileAccess::readWriteAlways) != 0 ||
        lock.tryLockExclusive() != 0)
      return 1;
    std::printf("held\n");
    std::fflush(stdout);
    for (;;) sleepMilliseconds(1000);
  }
  constexpr double kRate = 48000.0;
  constexpr std::uint32_t kFrames = 480;
  test::StreamConnections connections(test::floatFormat(1, static_cast<float>(kRate)));
  ProcessingLifecycle lifecycle;
  if (connections.lock(lifecycle) != S_OK) {
    std::fprintf(stderr, "panel_stream: the stream did not lock\n");
    return 1;
  }
  std::vector<float> samples(kFrames);
  std::int32_t learned = 0;
  const std::uint64_t start = tickCount64();
  for (std::uint64_t block = 0;; ++block) {
    const double amplitude = (block / 50) % 2 == 0 ? 0.316 : 0.01;
    for (std::uint32_t k = 0; k < kFrames; ++k) {
      const double t = static_cast<double>(block * kFrames + k) / kRate;
      samples[k] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * 300.0 * t));
    }
    APO_CONNECTION_PROPERTY in{reinterpret_cast<UINT_PTR>(samples.data()), kFrames, BUFFER_VALID,
                               0};
    APO_CONNECTION_PROPERTY out = in;
    APO_CONNECTION_PROPERTY* ins[] = {&in};
    APO_CONNECTION_PROPERTY* outs[] = {&out};
    lifecycle.process(1, ins, 1, outs);
    const std::int32_t frames = lifecycle.frame().chain().suppressor().frameCount();
    if (frames < learned) std::printf("relearn %d\n", static_cast<int>(frames));
    learned = frames;
    if (block == 0) std::printf("ready\n");
    std::fflush(stdout);
    // Real time: block n starts n * 10 ms after the first.
    const std::uint64_t due = start + (block + 1) * 10;
    const std::uint64_t now = tickCount64();
    if (due > now) sleepMilliseconds(static_cast<std::uint32_t>(due - now));
  }
}
