// Layer: channel
#include "channel/parameter_channel.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string_view>

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

// readParameterFile, telling why the file could not be opened.
bool readParameterFile(const Path& path, ParameterBlock& destination, DWORD& openError) noexcept {
  File file;
  openError = file.open(path, FileAccess::readExisting);
  if (openError != ERROR_SUCCESS) return false;
  ParameterBlock record;
  std::uint32_t bytesRead = 0;
  const DWORD error = file.read(&record, sizeof record, bytesRead);
  file.close();
  if (error != ERROR_SUCCESS || !isAcceptableFileRecord(record, bytesRead)) return false;
  sanitise(record);
  destination = record;
  return true;
}

// True the first time it is asked for `folder`: that a folder cannot be watched is said once,
// not by each of many objects in fallback mode (each past the system's limit on watches
// would).
bool firstWatchFailure(const Path& folder) noexcept {
  static std::mutex mutex;
  static Path lastFolder = Path::invalid();
  const std::lock_guard<std::mutex> lock(mutex);
  const std::basic_string_view<Path::Char> text(folder.c_str(), folder.length());
  if (lastFolder.valid() &&
      text == std::basic_string_view<Path::Char>(lastFolder.c_str(), lastFolder.length()))
    return false;
  lastFolder = folder;
  return true;
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
  DWORD ignored = ERROR_SUCCESS;
  return readParameterFile(path, destination, ignored);
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
  DWORD error = ERROR_SUCCESS;
  if (!readParameterFile(parameterFilePath(), record, error)) setDefaults(record);
  // Said once here, not by the watcher: on Windows its own log line would wake it again.
  if (const char* reason = refusedFileReason(error)) logLine("params.bin refused: %s", reason);
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

  if (const char* reason = refusedFileReason(error)) logLine("shared.bin refused: %s", reason);
  logLine("shared file unavailable (error %lu), falling back to params.bin watching",
          static_cast<unsigned long>(error));
  privateBlock_.reset(new (std::nothrow) SharedBlock{});
  if (!privateBlock_) return;
  initialiseBlock(*privateBlock_);
  activeBlock_ = privateBlock_.get();
  watcher_.reset(new (std::nothrow) Watcher{});
  if (!watcher_ || watcher_->stop.create() != ERROR_SUCCESS) {
    watcher_.reset();
    return;
  }
  watcher_->block = privateBlock_.get();
  if (watcherThread_.start(&ParameterChannel::watchParameterFolder, watcher_.get()) !=
      ERROR_SUCCESS)
    watcher_.reset();
}

void ParameterChannel::close() noexcept {
  if (watcherThread_.exists()) {
    watcher_->stop.set();
    // The watcher wakes at once and ends within one settle pause and one file read, which
    // never blocks. One that has not ended is stuck in the file system: it may still write
    // into its block and wait on its event, so both are left to it.
    if (!watcherThread_.join(kStopWaitMs)) {
      watcherThread_.detach();
      (void)watcher_.release();
      (void)privateBlock_.release();
    }
  }
  watcher_.reset();
  sharedMapping_.close();
  sharedFile_.close();
  activeBlock_ = nullptr;
  privateBlock_.reset();
}

void ParameterChannel::watchParameterFolder(void* argument) noexcept {
  Watcher& watcher = *static_cast<Watcher*>(argument);
  const Path folder = parameterFilePath().parent();
  FolderWatch watch;
  // The lines this process logs land in the same folder; they are no parameter change.
  watch.ignore("apo.log");
  watch.ignore("apo.old.log");
  for (;;) {
    const DWORD error = watch.start(folder);
    if (error != ERROR_SUCCESS) {
      if (firstWatchFailure(folder))
        logLine("cannot watch the data folder (error %lu), reading params.bin every %lu ms",
                static_cast<unsigned long>(error), static_cast<unsigned long>(kRetryMs));
      // Without a watch (past the system's limit on watches, say) the file is still read.
      publishParameterFile(*watcher.block);
    } else {
      // A file written before the watch was armed (while open() returned, or while the
      // folder was missing) raises no notification: read it once now.
      publishParameterFile(*watcher.block);
      for (;;) {
        if (watch.wait(watcher.stop) != FolderWatch::Wake::changed) return;
        sleepMilliseconds(kSettleMs);
        publishParameterFile(*watcher.block);
        // Re-armed only now, so a change made during the pause or the read is not lost.
        if (watch.rearm() != ERROR_SUCCESS) break;
      }
      watch.close();
    }
    if (watcher.stop.wait(kRetryMs) == WaitResult::signalled) return;
  }
}

}  // namespace vorlund
