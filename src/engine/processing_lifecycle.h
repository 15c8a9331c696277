// The processing life of one effect object: LockForProcess fixes the stream format, sizes the
// buffers, prepares the chain, opens the parameter channel and applies its record;
// UnlockForProcess ends a processing period with a statistics line in the log; destruction
// unlocks a still-locked object and closes the channel before anything is freed. The COM
// object embeds one and forwards its configuration calls; APOProcess goes to `frame`.
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

  BlockFrame frame;

 private:
  void endStream();
};

}  // namespace vorlund
