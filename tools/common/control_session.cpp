#include "common/control_session.h"

#include <system_error>

#include "channel/parameter_channel.h"
#include "common/ctl_error.h"
#include "common/record_file.h"
#include "platform/system.h"

namespace vorlund {
namespace {

// A writer holds the counter odd for a few microseconds; one that keeps it odd this long
// has stopped half-way.
constexpr std::uint64_t kSnapshotPatienceMs = 250;
// How often a held writers' lock is tried again.
constexpr std::uint32_t kLockRetryMs = 20;

Path child(const Path& folder, const char* name) {
  Path path = folder;
  path.append(name);
  return path;
}

}  // namespace

std::string RecordInForce::describe() const {
  switch (source) {
    case Source::sharedBlock:
      return "shared.bin (change counter " + std::to_string(changeCounter) + ")";
    case Source::parameterFile:
      return "params.bin";
    case Source::defaults:
      return "factory defaults (no valid params.bin)";
  }
  return {};
}

ControlSession::ControlSession(const Path& dataFolder)
    : dataFolder_(dataFolder),
      sharedPath_(child(dataFolder, "shared.bin")),
      parametersPath_(child(dataFolder, "params.bin")) {}

void ControlSession::requireDataFolder() const {
  const std::string folder = dataFolder_.toUtf8();
  if (!dataFolder_.valid() || !sharedPath_.valid() || !parametersPath_.valid())
    throw CtlError(ExitCode::usage, "the data folder path is too long: " + folder);
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::status(toFilesystemPath(dataFolder_), error);
  if (status.type() == std::filesystem::file_type::not_found)
    throw CtlError(ExitCode::noDataFolder,
                   "the data folder " + folder +
                       " does not exist; the effect never creates it (the installer does): "
                       "create it, or point --data-dir at the right folder");
  if (error) throw CtlError(ExitCode::noDataFolder, folder + ": " + error.message());
  if (!std::filesystem::is_directory(status))
    throw CtlError(ExitCode::noDataFolder, "the data folder " + folder + " is not a folder");
}

SharedFile& ControlSession::sharedFile() {
  shared_.open(sharedPath_, readOnly_);
  return shared_;
}

DWORD ControlSession::lockWriters(std::uint32_t waitMs) {
  if (writerLock_.isOpen()) return ERROR_SUCCESS;
  DWORD error = writerLock_.open(child(dataFolder_, "ctl.lock"), FileAccess::readWriteAlways,
                                 kWritersLockSddl);
  if (error == ERROR_SUCCESS) {
    writerLock_.restrictToWriters();
    // Never an unbounded wait: whoever holds the lock, a writer ends with a message.
    const std::uint64_t deadline = tickCount64() + waitMs;
    while ((error = writerLock_.tryLockExclusive()) == ERROR_LOCK_VIOLATION &&
           tickCount64() < deadline)
      sleepMilliseconds(kLockRetryMs);
  }
  if (error != ERROR_SUCCESS) writerLock_.close();
  return error;
}

void ControlSession::requireUsableSharedFile(std::string_view neededFor) {
  switch (sharedFile().state()) {
    case SharedFile::State::mapped:
      return;
    case SharedFile::State::missing:
      if (neededFor.empty()) return;
      throw CtlError(ExitCode::sharedFileUnusable,
                     std::string(neededFor) + ": " + shared_.problem());
    case SharedFile::State::noPermission:
      throw CtlError(ExitCode::noPermission, shared_.problem());
    case SharedFile::State::failed:
    case SharedFile::State::closed:
      throw CtlError(ExitCode::ioFailure, shared_.problem());
    default:
      throw CtlError(ExitCode::sharedFileUnusable, shared_.problem());
  }
}

RecordInForce ControlSession::recordInForce() {
  RecordInForce inForce;
  if (sharedFile().state() == SharedFile::State::mapped) {
    SharedBlock& block = shared_.block();
    const std::uint32_t first = loadChangeCounter(block);
    const std::uint64_t deadline = tickCount64() + kSnapshotPatienceMs;
    for (;;) {
      std::uint32_t counter = 0;
      if (readSnapshot(block, inForce.record, counter)) {
        sanitise(inForce.record);
        inForce.source = RecordInForce::Source::sharedBlock;
        inForce.changeCounter = counter;
        return inForce;
      }
      if (tickCount64() > deadline) break;
      sleepMilliseconds(1);
    }
    const std::uint32_t last = loadChangeCounter(block);
    if ((last & 1u) == 0 || last != first)
      throw CtlError(ExitCode::ioFailure,
                     "the record in shared.bin keeps changing: another program is writing "
                     "records right now; nothing was written, try again");
    inForce.interruptedWriter = true;
    inForce.changeCounter = last;
  }
  if (readParameterFile(parametersPath_, inForce.record)) {
    inForce.source = RecordInForce::Source::parameterFile;
  } else {
    setDefaults(inForce.record);
    inForce.source = RecordInForce::Source::defaults;
  }
  return inForce;
}

Publication ControlSession::commit(const ParameterBlock& record) {
  Publication publication;
  const RecordReport saved =
      writeRecordFile(toFilesystemPath(parametersPath_), record, RecordFileFormat::Binary);
  publication.saved = saved.ok();
  if (!saved.ok()) publication.saveError = saved.errors.front();
  // A stream that started meanwhile may have created shared.bin from the old params.bin.
  if (shared_.state() == SharedFile::State::missing) shared_.close();
  if (sharedFile().state() == SharedFile::State::mapped) {
    SharedBlock& block = shared_.block();
    publication.counterBefore = loadChangeCounter(block);
    publishRecord(block, record);
    publication.counterAfter = loadChangeCounter(block);
    publication.published = true;
    // Cut short meanwhile, the file took nothing (params.bin has the record).
    if (shared_.state() == SharedFile::State::cutShort)
      throw CtlError(ExitCode::sharedFileUnusable, shared_.problem());
  }
  return publication;
}

}  // namespace vorlund
