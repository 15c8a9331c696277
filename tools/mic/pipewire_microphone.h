// The "Vorlund microphone" as a PipeWire client: a capture stream on the default input, with
// every channel it has, and an Audio/Source stream that offers the voice chain's mono output.
// Both nodes run in one group, so the capture's process triggers the source's within the same
// graph cycle; the source reports the chain's latency to the graph. The engine is the effect's
// own block frame, following the data folder's shared block when there is one.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <spa/utils/hook.h>

#include "engine/block_frame.h"

struct pw_context;
struct pw_core;
struct pw_main_loop;
struct pw_stream;
struct spa_pod;

namespace vorlund {

class PipeWireMicrophone {
 public:
  // The rate both streams run at (PipeWire converts other graph rates) and the largest block.
  static constexpr std::uint32_t kRate = 48000;
  static constexpr std::uint32_t kMaxFrames = 8192;
  // Widest input folded; more channels than this are refused by the capture's format.
  static constexpr std::uint32_t kMaxChannels = 64;
  // Input blocks that may wait for a late real-time thread.
  static constexpr int kCaptureBuffers = 16;

  // Main thread; may allocate, block and log. Prepares the engine and opens the data folder
  // when it exists (`note` then says so when it does not).
  explicit PipeWireMicrophone(std::string& note);
  ~PipeWireMicrophone();
  PipeWireMicrophone(const PipeWireMicrophone&) = delete;
  PipeWireMicrophone& operator=(const PipeWireMicrophone&) = delete;

  // Main thread: connects to PipeWire and runs until SIGINT or SIGTERM. False, with `error`
  // set, when PipeWire cannot be reached or the streams cannot be made.
  bool run(std::string& error);

  // The effect's latency in samples at kRate.
  std::uint32_t latencySamples() const noexcept;

 private:
  static void onCaptureProcess(void* data);
  static void onSourceProcess(void* data);
  static void onCaptureParamChanged(void* data, std::uint32_t id, const spa_pod* param);

  // Real-time thread; never allocates, locks, waits or logs.
  void processCycle() noexcept;

  BlockFrame frame_;
  // The record's bypass: a crossfade to the input delayed by the reported latency.
  BypassFade bypass_;
  pw_main_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* capture_ = nullptr;
  pw_stream* source_ = nullptr;
  spa_hook captureListener_{};
  spa_hook sourceListener_{};
  // The capture's channel count, set when its format is negotiated; 0 before.
  std::atomic<std::uint32_t> channels_{0};
  // The chain's output for one block, sized for the largest at construction.
  std::vector<float> mono_;
};

}  // namespace vorlund
