// How vorlund-ctl ends: the exit codes it documents, and the error that carries one up to
// the tool's main, which prints its message.
#pragma once

#include <string>

#include "common/tool_main.h"

namespace vorlund {

enum class ExitCode : int {
  ok = 0,
  notLive = 1,             // status: no stream is processing blocks (stopped or stale)
  usage = 2,               // bad command line or record input: unknown field, malformed value...
  noDataFolder = 3,        // the data folder does not exist
  sharedFileUnusable = 4,  // shared.bin missing where it is needed, or not a Vorlund block
  noPermission = 5,        // shared.bin cannot be opened for reading and writing
  ioFailure = 6,           // anything else that went wrong with a file or the registry
  windowsOnly = 7,         // devices, attach, detach, setup on another system
  noSuchDevice = 8,        // no capture endpoint of that number or id, or no default one
  needsAdministrator = 9,  // a registry or data-folder write refused to a non-elevated user
  keyRefused = 10,         // an endpoint's key refuses writes even to an administrator
  foreignBackup = 11,      // a backup under Vorlund's key written by another version
  writersBusy = 12,        // another writer kept the writers' lock (ctl.lock) too long
};

class CtlError : public ToolError {
 public:
  CtlError(ExitCode code, const std::string& message)
      : ToolError(static_cast<int>(code), message) {}
  ExitCode code() const noexcept { return static_cast<ExitCode>(exitCode()); }
};

}  // namespace vorlund
