// How the Vorlund tools end: one table of exit codes for every tool, so a number means the
// same thing whichever tool returns it, and each tool's help prints its rows from the table.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vorlund {

enum class ExitCode : int {
  ok = 0,
  notLive = 1,             // ctl status: no stream is processing blocks (stopped or stale)
  usage = 2,               // bad command line or record input: unknown option, field, value...
  badRecord = usage,       // process: --params, --preset or --set
  noDataFolder = 3,        // the data folder does not exist
  sharedFileUnusable = 4,  // shared.bin missing where it is needed, or not a Vorlund block
  noPermission = 5,        // shared.bin cannot be opened for reading and writing
  ioFailure = 6,           // anything else that went wrong with a file or the registry
  windowsOnly = 7,         // devices, attach, detach, setup on another system
  noSuchDevice = 8,        // no capture endpoint of that number or id, or no default one
  needsAdministrator = 9,  // a registry or data-folder write refused to a non-elevated user
  keyRefused = 10,         // an endpoint's key refuses writes even to an administrator
  foreignBackup = 11,      // a backup under Vorlund's key written by another version
  inputFile = 12,          // process: unreadable or unsupported input, or unwritable output
  missingLibrary = 13,     // process: the APO library or one of its exports
  refusedFormat = 14,      // process: the APO does not take the file's rate or channel count
  apoFailure = 15,         // process: the APO failed a call it should have served
  writersBusy = 16,        // ctl: another writer kept the writers' lock (ctl.lock) too long
};

// The tools a row of the table applies to, as bits.
enum ToolSet : unsigned {
  kCtlTool = 1u << 0,
  kProcessTool = 1u << 1,
  kEveryTool = kCtlTool | kProcessTool,
};

struct ExitCodeInfo {
  ExitCode code;
  unsigned tools;
  std::string_view meaning;
};

std::span<const ExitCodeInfo> exitCodeTable();

// "exit codes:" and the rows of `tool`, for its help.
std::string exitCodeHelp(ToolSet tool);

}  // namespace vorlund
