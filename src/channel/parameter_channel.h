// Layer: channel
// How records reach the real-time path from the control application. Shared mode maps the
// first 768 bytes of shared.bin in the data folder, which the control application maps
// too. When that file cannot be used, fallback mode gives the effect a private block and a
// watcher thread that publishes every valid params.bin into it whenever the folder changes.
// Either way the real-time path sees only activeBlock().
#pragma once

#include <cstdint>
#include <memory>

#include "engine/parameter_block.h"
#include "engine/shared_block.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/file_mapping.h"
#include "platform/path.h"
#include "platform/thread.h"

namespace vorlund {

class ParameterChannel {
 public:
  // shared.bin is grown to this length; only its first block is ever mapped.
  static constexpr std::uint64_t kSharedFileBytes = 0x10000;
  // The watcher's pause after a change, so the writer can finish the file.
  static constexpr std::uint32_t kSettleMs = 50;
  // The watcher's retry interval while the folder cannot be watched.
  static constexpr std::uint32_t kRetryMs = 2000;
  // How long close() waits for the watcher; one that has not ended by then (stuck in a file
  // system call) is left to run on with its own event and block, which are never freed.
  static constexpr std::uint32_t kStopWaitMs = 5000;

  ParameterChannel() noexcept = default;
  ~ParameterChannel() { close(); }
  ParameterChannel(const ParameterChannel&) = delete;
  ParameterChannel& operator=(const ParameterChannel&) = delete;

  // Configuration thread; may block and allocate (without throwing). Opens shared mode, or
  // falls back with one log line. Does nothing while a block is active.
  void open() noexcept;
  // Configuration thread; waits a bounded time for the watcher before anything it uses is
  // freed. Safe to call twice or on a channel never opened.
  void close() noexcept;

  // Any thread: the block to read, or null (closed, or no memory for the fallback block).
  SharedBlock* activeBlock() const noexcept { return activeBlock_; }
  // True when activeBlock() is the mapped shared.bin.
  bool isShared() const noexcept {
    return activeBlock_ != nullptr && activeBlock_ != privateBlock_.get();
  }

 private:
  // What the watcher thread uses, apart from the channel so that a watcher which will not
  // stop can be left to it.
  struct Watcher {
    Event stop;
    SharedBlock* block = nullptr;
  };
  static void watchParameterFolder(void* watcher) noexcept;

  File sharedFile_;
  FileMapping sharedMapping_;
  SharedBlock* activeBlock_ = nullptr;
  std::unique_ptr<SharedBlock> privateBlock_;
  std::unique_ptr<Watcher> watcher_;
  Thread watcherThread_;
};

// dataFolder()\shared.bin and dataFolder()\params.bin.
Path sharedFilePath() noexcept;
Path parameterFilePath() noexcept;

// Any thread except the real-time thread: reads params.bin. Accepts exactly one record
// (at least 524 bytes, of which the first 524 are read; magic "VRLD"; size field 524),
// sanitises it into `destination` and returns true; otherwise leaves it untouched.
bool readParameterFile(ParameterBlock& destination) noexcept;
// The same for a parameter file elsewhere (a control application's chosen data folder).
bool readParameterFile(const Path& path, ParameterBlock& destination) noexcept;

// Configuration thread, before any reader of `block` exists: header, the record from
// params.bin (or the defaults) published, and the magic stored last.
void initialiseBlock(SharedBlock& block) noexcept;
// The same with a given record, for a block prepared before any stream runs.
void initialiseBlock(SharedBlock& block, const ParameterBlock& record) noexcept;

// The writer's side of the change-counter protocol, for whoever writes records (the
// watcher, a control application): counter to odd, copy, counter to even.
void publishRecord(SharedBlock& block, const ParameterBlock& record) noexcept;

}  // namespace vorlund
