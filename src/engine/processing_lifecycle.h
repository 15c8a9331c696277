// Layer: engine
// The processing life of one effect object: LockForProcess fixes the stream format, sizes the
// buffers, prepares the chain, opens the parameter channel and applies its record;
// UnlockForProcess ends a processing period with a statistics line in the log; destruction
// unlocks a still-locked object and closes the channel before anything is freed. The COM
// object embeds one and forwards its configuration calls; APOProcess goes to its frame.
#pragma once

#include "engine/block_frame.h"
#include "platform/com/apo_interfaces.h"

namespace vorlund {

class ProcessingLifecycle {
 public:
  // Allocates nothing: the buffers are sized by lockForProcess.
  ProcessingLifecycle() noexcept = default;
  // Configuration thread: unlocks (with the log line) if still locked, then closes the
  // channel, waiting for its watcher.
  ~ProcessingLifecycle();
  ProcessingLifecycle(const ProcessingLifecycle&) = delete;
  ProcessingLifecycle& operator=(const ProcessingLifecycle&) = delete;

  // Configuration thread, unlocked; may allocate, block and log. IAudioProcessingObject-
  // Configuration::LockForProcess: S_OK, APOERR_APO_LOCKED, E_INVALIDARG, the format query's
  // failure, APOERR_FORMAT_NOT_SUPPORTED or E_OUTOFMEMORY.
  HRESULT lockForProcess(UINT32 numInputConnections, APO_CONNECTION_DESCRIPTOR** inputConnections,
                         UINT32 numOutputConnections,
                         APO_CONNECTION_DESCRIPTOR** outputConnections);
  // Configuration thread: S_OK, or APOERR_ALREADY_UNLOCKED when not locked. Keeps the channel
  // open and the chain's state.
  HRESULT unlockForProcess();

  // Real-time thread, locked: one APOProcess call (BlockFrame::process).
  void process(std::uint32_t numInputConnections, APO_CONNECTION_PROPERTY** inputConnections,
               std::uint32_t numOutputConnections,
               APO_CONNECTION_PROPERTY** outputConnections) noexcept {
    frame_.process(numInputConnections, inputConnections, numOutputConnections, outputConnections);
  }
  // Any thread: asks the next block to reset the chain.
  void requestReset() noexcept { frame_.requestReset(); }
  // Any thread: the delay the chain adds at the locked rate, in samples.
  int latencySamples() const noexcept { return frame_.latencySamples(); }
  // Read-only view of the frame: format, statistics, record in force and channel.
  const BlockFrame& frame() const noexcept { return frame_; }

 private:
  void endStream();

  BlockFrame frame_;
};

}  // namespace vorlund
