// Drives a ProcessingLifecycle the way the audio engine does: the connections of
// LockForProcess (stream_connections.h), interleaved blocks for APOProcess, and a stream
// locked in a fresh data folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "com_test_objects.h"
#include "engine/processing_lifecycle.h"
#include "engine/stream_connections.h"
#include "platform/com/apo_interfaces.h"
#include "signal_helpers.h"
#include "temp_data_folder.h"

namespace vorlund::test {

// Runs one block in place over `samples` (interleaved) through a BlockFrame or a
// ProcessingLifecycle; returns the output connection.
template <typename Processor>
APO_CONNECTION_PROPERTY runBlock(Processor& frame, std::vector<float>& samples,
                                 std::uint32_t frames, APO_BUFFER_FLAGS flags = BUFFER_VALID) {
  APO_CONNECTION_PROPERTY in{reinterpret_cast<UINT_PTR>(samples.data()), frames, flags, 0};
  APO_CONNECTION_PROPERTY out = in;
  out.u32ValidFrameCount = 12345;
  out.u32BufferFlags = BUFFER_INVALID;
  APO_CONNECTION_PROPERTY* ins[] = {&in};
  APO_CONNECTION_PROPERTY* outs[] = {&out};
  frame.process(1, ins, 1, outs);
  return out;
}

// A stream locked at 48 kHz in a fresh data folder, shared.bin in use.
struct LockedStream {
  explicit LockedStream(UINT32 channels) : connections(floatFormat(channels, 48000.0f)) {
    EXPECT_EQ(S_OK, connections.lock(lifecycle));
  }
  SharedBlock& block() { return *lifecycle.frame().channel().activeBlock(); }
  // One 480-frame block of a 1 kHz sine at `amplitude` on every channel; returns the mono
  // input and leaves the first channel's output in `output`.
  std::vector<float> run(float amplitude, std::vector<float>* output = nullptr) {
    const UINT32 channels = lifecycle.frame().format().channels;
    std::vector<float> mono = sine(1000.0, 48000.0, 480, amplitude);
    std::vector<float> samples;
    for (float x : mono) samples.insert(samples.end(), channels, x);
    runBlock(lifecycle, samples, 480);
    if (output != nullptr) {
      output->clear();
      for (std::size_t k = 0; k < samples.size(); k += channels) output->push_back(samples[k]);
    }
    return mono;
  }

  TempDataFolder temp;
  StreamConnections connections;
  ProcessingLifecycle lifecycle;
};

}  // namespace vorlund::test
