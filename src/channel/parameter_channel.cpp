#include "channel/parameter_channel.h"

#include <cstring>
#include <new>

#include "channel/diagnostic_log.h"
#include "platform/folder_watch.h"
#include "platform/system.h"

namespace vorlund {
namespace {

// A refused or missing file publishes nothing: the last record stays in force.
void publishParameterFile(SharedBlock& block) noexcept {
  ParameterBlock record;
  if (readParameterFile(record)) publishRecord(block, record);
}

}  // namespace

Path sharedFilePath() noexcept {
  Path path = dataFolder();
  path.append("shared.bin");
  return path;
}

Path parameterFilePath() noexcept {
  Path path = dataFolder();
  path.append("params.bin");
  return path;
}

bool readParameterFile(ParameterBlock& destination) noexcept {
  return readParameterFile(parameterFilePath(), destination);
}

bool readParameterFile(const Path& path, ParameterBlock& destination) noexcept {
  File file;
  if (file.open(path, FileAccess::readExisting) != ERROR_SUCCESS) return false;
  ParameterBlock record;
  std::uint32_t bytesRead = 0;
  const DWORD error = file.read(&record, sizeof record, bytesRead);
  file.close();
  if (error != ERROR_SUCCESS || !isAcceptableFileRecord(record, bytesRead)) return false;
  sanitise(record);
  destination = record;
  return true;
}

void publishRecord(SharedBlock& block, const ParameterBlock& record) noexcept {
  std::atomic_ref<std::uint32_t> counter = sharedWord(block.changeCounter);
  std::uint32_t c = counter.load(std::memory_order_relaxed);
  // A writer stopped half-way left the counter odd.
  if ((c & 1u) != 0) c += 1;
  counter.exchange(c + 1);
  // Keeps the copy after the odd counter for a reader whose fence sees any copied word.
  std::atomic_thread_fence(std::memory_order_release);
  const auto* in = reinterpret_cast<const unsigned char*>(&record);
  for (std::size_t i = 0; i < SharedBlock::kRecordWords; ++i) {
    std::uint32_t word;
    std::memcpy(&word, in + i * sizeof word, sizeof word);
    sharedWord(block.parameterArea[i]).store(word, std::memory_order_relaxed);
  }
  counter.exchange(c + 2);
}

void initialiseBlock(SharedBlock& block) noexcept {
  ParameterBlock record;
  if (!readParameterFile(record)) setDefaults(record);
  initialiseBlock(block, record);
}

void initialiseBlock(SharedBlock& block, const ParameterBlock& record) noexcept {
  sharedWord(block.version).store(SharedBlock::kVersion, std::memory_order_relaxed);
  sharedWord(block.size).store(SharedBlock::kSize, std::memory_order_relaxed);
  publishRecord(block, record);
  // Last: a reader that finds the magic finds a complete header and record.
  sharedWord(block.magic).exchange(SharedBlock::kMagic);
}

void ParameterChannel::open() noexcept {
  if (activeBlock_ != nullptr) return;

  DWORD error = sharedFile_.open(sharedFilePath(), FileAccess::readWriteAlways);
  if (error == ERROR_SUCCESS) {
    error = sharedMapping_.create(sharedFile_, kSharedFileBytes);
    if (error == ERROR_SUCCESS) error = sharedMapping_.mapView(sizeof(SharedBlock));
    if (error == ERROR_SUCCESS) {
      activeBlock_ = static_cast<SharedBlock*>(sharedMapping_.view());
      // A valid header is used as it stands: the control application's record survives.
      if (sharedWord(activeBlock_->magic).load() != SharedBlock::kMagic ||
          sharedWord(activeBlock_->version).load() != SharedBlock::kVersion)
        initialiseBlock(*activeBlock_);
      return;
    }
    sharedMapping_.close();
    sharedFile_.close();
  }

  logLine("shared file unavailable (error %lu), falling back to params.bin watching",
          static_cast<unsigned long>(error));
  privateBlock_.reset(new (std::nothrow) SharedBlock{});
  if (!privateBlock_) return;
  initialiseBlock(*privateBlock_);
  activeBlock_ = privateBlock_.get();
  if (stopEvent_.create() != ERROR_SUCCESS) return;
  watcherThread_.start(&ParameterChannel::watchParameterFolder, this);
}

void ParameterChannel::close() noexcept {
  if (watcherThread_.exists()) {
    stopEvent_.set();
    // The watcher wakes at once and ends within one settle pause and one file read; if it
    // has not, it may still write into the private block, so keep waiting.
    if (!watcherThread_.join(kStopWaitMs)) watcherThread_.join(kWaitForever);
  }
  // Only a failed wait leaves the watcher running: its block is then never freed.
  if (watcherThread_.exists()) (void)privateBlock_.release();
  stopEvent_.close();
  sharedMapping_.close();
  sharedFile_.close();
  activeBlock_ = nullptr;
  privateBlock_.reset();
}

void ParameterChannel::watchParameterFolder(void* argument) noexcept {
  ParameterChannel& channel = *static_cast<ParameterChannel*>(argument);
  const Path folder = parameterFilePath().parent();
  FolderWatch watch;
  for (;;) {
    if (watch.start(folder) == ERROR_SUCCESS) {
      // A file written before the watch was armed (while open() returned, or while the
      // folder was missing) raises no notification: read it once now.
      publishParameterFile(*channel.privateBlock_);
      for (;;) {
        if (watch.wait(channel.stopEvent_) != FolderWatch::Wake::changed) return;
        sleepMilliseconds(kSettleMs);
        publishParameterFile(*channel.privateBlock_);
        // Re-armed only now, so a change made during the pause or the read is not lost.
        if (watch.rearm() != ERROR_SUCCESS) break;
      }
      watch.close();
    }
    if (channel.stopEvent_.wait(kRetryMs) == WaitResult::signalled) return;
  }
}

}  // namespace vorlund
