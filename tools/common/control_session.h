// What vorlund-ctl works on: the data folder with its shared.bin and params.bin, the record in
// force, and a new record put in force. A new record is saved as params.bin first (so it
// survives a restart and reaches a stream in parameter-file mode, and so a writer that dies
// before it has published leaves the intended record behind), then published into the shared
// block by the writer's protocol.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/shared_file.h"
#include "engine/parameter_block.h"
#include "platform/file.h"
#include "platform/path.h"

namespace vorlund {

// ctl.lock's security descriptor on Windows, given by 'setup' and by a writer that creates the
// file: read and write for exactly those the data folder lets write its files (SYSTEM,
// Administrators, the audio engine's account, signed-in users) and the file's owner, nobody
// else and nothing inherited. LockFileEx takes a lock through any handle that may read, so
// whoever may open the file at all must be a writer.
inline constexpr char16_t kWritersLockSddl[] =
    u"O:BAG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)(A;;0x12019f;;;LS)(A;;0x12019f;;;IU)";

struct RecordInForce {
  enum class Source { sharedBlock, parameterFile, defaults };

  ParameterBlock record;  // sanitised, as a stream applies it
  Source source = Source::defaults;
  std::uint32_t changeCounter = 0;  // of the shared block, when it is the source
  // The shared block's counter was left odd by a writer that stopped half-way: its parameter
  // area may be torn, so it is not used, and the next publication recovers the counter.
  bool interruptedWriter = false;

  // Where the record was found, for people ("shared.bin (change counter 12)").
  std::string describe() const;
};

struct Publication {
  bool saved = false;
  std::string saveError;  // when not saved
  bool published = false;
  std::uint32_t counterBefore = 0;
  std::uint32_t counterAfter = 0;
};

class ControlSession {
 public:
  explicit ControlSession(const Path& dataFolder);

  const Path& dataFolder() const noexcept { return dataFolder_; }
  const Path& sharedPath() const noexcept { return sharedPath_; }
  const Path& parametersPath() const noexcept { return parametersPath_; }

  // Throws CtlError(noDataFolder) unless the data folder exists as a folder.
  void requireDataFolder() const;
  // shared.bin, opened on first use: for reading only after readOnly().
  SharedFile& sharedFile();
  // Commands that only look open shared.bin for reading, so a user who may read it can.
  void readOnly() noexcept { readOnly_ = true; }
  // Takes the writers' advisory lock (ctl.lock in the data folder), held until the session
  // ends, so that concurrent writers read, change and publish one after another. Tries
  // every few milliseconds for up to `waitMs`; returns 0, ERROR_LOCK_VIOLATION while another
  // writer still holds it, or the error that kept it from being taken.
  DWORD lockWriters(std::uint32_t waitMs);
  // Throws the fitting CtlError unless shared.bin is a usable block. A missing one is an error
  // only when `neededFor` says what needs it ("relearn needs shared.bin"), since without it
  // streams run in parameter-file mode.
  void requireUsableSharedFile(std::string_view neededFor = {});

  // The record a stream applies now: the shared block's (consistent copy), else params.bin,
  // else the factory defaults. Throws when another writer keeps the block busy for too long.
  RecordInForce recordInForce();

  // Saves `record` as params.bin, then publishes it into a mapped shared block (even when the
  // save failed, so that the change is at least live). A shared.bin that was missing is
  // looked for again after the save, as a stream may have created it meanwhile.
  Publication commit(const ParameterBlock& record);

 private:
  Path dataFolder_;
  Path sharedPath_;
  Path parametersPath_;
  SharedFile shared_;
  bool readOnly_ = false;
  File writerLock_;
};

}  // namespace vorlund
