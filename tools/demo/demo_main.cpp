// Runs the voice chain, through the block frame, over a generated test signal (a buzzy voice
// with 50 Hz hum, a DC offset and a noise floor, in stereo at 48 kHz) and prints the meters
// once a second. Shows the effect working without any audio file or audio device.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

#include "chain/gain.h"
#include "engine/block_frame.h"
#include "engine/shared_block.h"

namespace {

constexpr double kRate = 48000.0;
constexpr std::uint32_t kChannels = 2;
constexpr std::uint32_t kBlockFrames = 480;  // 10 ms
constexpr int kSeconds = 6;

}  // namespace

int main() {
  using vorlund::amplitudeToDb;
  using vorlund::meanSquareToDb;
  vorlund::BlockFrame frame;
  frame.chain.params.humFilterEnabled = 1;
  frame.start({static_cast<float>(kRate), kChannels, kBlockFrames, kBlockFrames});

  std::mt19937 random(7);
  std::normal_distribution<float> noise(0.0f, 0.003f);
  std::vector<float> buffer(kBlockFrames * kChannels);
  APO_CONNECTION_PROPERTY connection{};
  APO_CONNECTION_PROPERTY* connections[] = {&connection};

  std::printf("second  in-peak dB  in-rms dB  out-peak dB  out-rms dB  load %%\n");
  std::int64_t n = 0;
  const int blocksPerSecond = static_cast<int>(kRate) / static_cast<int>(kBlockFrames);
  for (int second = 0; second < kSeconds; ++second) {
    float inMs = 0.0f, outMs = 0.0f, inPeak = 0.0f, outPeak = 0.0f;
    for (int b = 0; b < blocksPerSecond; ++b) {
      for (std::uint32_t k = 0; k < kBlockFrames; ++k, ++n) {
        const double t = static_cast<double>(n) / kRate;
        // Voice for 0.7 s of every second, on a 120 Hz fundamental with a slow vibrato.
        const bool voiced = std::fmod(t, 1.0) < 0.7;
        const double f0 = 120.0 + 6.0 * std::sin(2.0 * std::numbers::pi * 5.0 * t);
        double voice = 0.0;
        for (int h = 1; h <= 12; ++h) voice += std::sin(2.0 * std::numbers::pi * f0 * h * t) / h;
        const double hum = 0.02 * std::sin(2.0 * std::numbers::pi * 50.0 * t);
        const float x =
            static_cast<float>((voiced ? 0.12 * voice : 0.0) + hum + 0.05) + noise(random);
        buffer[k * kChannels] = x;
        buffer[k * kChannels + 1] = x;
      }
      connection.pBuffer = reinterpret_cast<UINT_PTR>(buffer.data());
      connection.u32ValidFrameCount = kBlockFrames;
      connection.u32BufferFlags = BUFFER_VALID;
      frame.process(1, connections, 1, connections);
      inMs += frame.chain.meters.inputMeanSquare / blocksPerSecond;
      outMs += frame.chain.meters.outputMeanSquare / blocksPerSecond;
      inPeak = std::max(inPeak, frame.chain.meters.inputPeak);
      outPeak = std::max(outPeak, frame.chain.meters.outputPeak);
    }
    std::printf(
        "%6d  %10.1f  %9.1f  %11.1f  %10.1f  %6.2f\n", second + 1,
        static_cast<double>(amplitudeToDb(inPeak)), static_cast<double>(meanSquareToDb(inMs)),
        static_cast<double>(amplitudeToDb(outPeak)), static_cast<double>(meanSquareToDb(outMs)),
        static_cast<double>(100.0f * frame.statistics().processingLoad));
  }
  std::printf("blocks %lld, input peak %.1f dBFS, output peak %.1f dBFS\n",
              static_cast<long long>(frame.statistics().blockCount),
              static_cast<double>(amplitudeToDb(frame.statistics().peakInput)),
              static_cast<double>(amplitudeToDb(frame.statistics().peakOutput)));
  return 0;
}
