// The audio engine's side of one locked stream, for the targets that drive the processing
// lifecycle directly: the stream's connections, kept alive while it is locked, and the lock
// itself, which must succeed for every stream in the accepted range and open a shared block.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/processing_lifecycle.h"
#include "engine/stream_connections.h"
#include "fuzz_input.h"

namespace vorlund::fuzz {

class EngineStream {
 public:
  explicit EngineStream(ProcessingLifecycle& lifecycle) : lifecycle_(lifecycle) {}

  // Unlocks a locked stream first, as the engine does before it locks another format.
  void lock(float rate, std::uint32_t channels, std::uint32_t maxInputFrames,
            std::uint32_t maxOutputFrames) {
    if (lifecycle_.frame().isLocked()) lifecycle_.unlockForProcess();
    connections_ = std::make_unique<test::StreamConnections>(test::floatFormat(channels, rate),
                                                             maxInputFrames, maxOutputFrames);
    require(connections_->lock(lifecycle_) == S_OK, "an accepted stream locks");
    require(lifecycle_.frame().channel().activeBlock() != nullptr, "a shared block is open");
  }

 private:
  ProcessingLifecycle& lifecycle_;
  std::unique_ptr<test::StreamConnections> connections_;
};

}  // namespace vorlund::fuzz
