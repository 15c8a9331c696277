// Layer: platform
// The running program and the programs it starts: its own file, its arguments as UTF-8 (on
// Windows taken from the wide command line, so any file name survives), and a child process
// run to its end with its output captured in files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/path.h"

namespace vorlund {

// GetModuleFileNameW of the executable (/proc/self/exe elsewhere); invalid when unknown or
// longer than a Path holds.
Path executablePath() noexcept;

// The program's arguments after its name, as UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Starts `arguments` (the program first, UTF-8) with an empty standard input and its standard
// output and error written to the given files (created or emptied), and waits for it to end.
// Returns its exit code; -1 when it could not be started, 128 + the signal when killed.
int runProcess(std::span<const std::string> arguments, const Path& outputFile,
               const Path& errorFile);

// True while a process with this id runs (OpenProcess and a zero wait; kill(id, 0)
// elsewhere). A process of another user counts as running.
bool processIsRunning(std::uint32_t id) noexcept;

// Opens `url` in the user's default browser (ShellExecuteW; xdg-open elsewhere) without
// waiting for it. False when the opener could not be started.
bool openInBrowser(const std::string& url);

}  // namespace vorlund
