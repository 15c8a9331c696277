#include "common/exit_codes.h"

namespace vorlund {
namespace {

constexpr ExitCodeInfo kExitCodes[] = {
    {ExitCode::ok, kEveryTool, "done"},
    {ExitCode::notLive, kCtlTool, "status: no stream is live (0: one is)"},
    {ExitCode::usage, kEveryTool, "bad command line or record input"},
    {ExitCode::noDataFolder, kCtlTool, "no data folder"},
    {ExitCode::sharedFileUnusable, kCtlTool, "shared.bin missing where needed, or foreign"},
    {ExitCode::noPermission, kCtlTool, "no permission to use shared.bin"},
    {ExitCode::ioFailure, kCtlTool, "any other file or registry error"},
    {ExitCode::windowsOnly, kCtlTool, "a Windows-only command elsewhere"},
    {ExitCode::noSuchDevice, kCtlTool, "no such microphone"},
    {ExitCode::needsAdministrator, kCtlTool, "needs administrator rights"},
    {ExitCode::keyRefused, kCtlTool, "the endpoint's key refuses writes even to administrators"},
    {ExitCode::foreignBackup, kCtlTool, "a backup written by another version of Vorlund"},
    {ExitCode::inputFile, kProcessTool, "input unreadable or unsupported, or output not writable"},
    {ExitCode::missingLibrary, kProcessTool, "effect library missing or incomplete"},
    {ExitCode::refusedFormat, kProcessTool, "the effect refuses the file's rate or channel count"},
    {ExitCode::apoFailure, kProcessTool, "the effect failed"},
    {ExitCode::writersBusy, kCtlTool, "another writer kept the writers' lock too long"},
};

}  // namespace

std::span<const ExitCodeInfo> exitCodeTable() {
  return kExitCodes;
}

std::string exitCodeHelp(ToolSet tool) {
  std::string text = "exit codes:\n";
  for (const ExitCodeInfo& row : kExitCodes) {
    if ((row.tools & tool) == 0) continue;
    std::string number = std::to_string(static_cast<int>(row.code));
    number.resize(4, ' ');
    text += "  " + number + std::string(row.meaning) + "\n";
  }
  return text;
}

}  // namespace vorlund
