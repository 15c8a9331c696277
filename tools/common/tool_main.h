// What every Vorlund tool does the same way: its name on every message, warnings on standard
// error after the output so far, errors carried up to main as an exit code and a message, and
// the project version for --version.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/exit_codes.h"

namespace vorlund {

// A failure a tool reports and ends on: the exit code its help documents, and a sentence.
class ToolError : public std::runtime_error {
 public:
  ToolError(int exitCode, const std::string& message)
      : std::runtime_error(message), exitCode_(exitCode) {}
  ToolError(ExitCode code, const std::string& message)
      : ToolError(static_cast<int>(code), message) {}
  int exitCode() const noexcept { return exitCode_; }
  ExitCode code() const noexcept { return static_cast<ExitCode>(exitCode_); }

 private:
  int exitCode_;
};

// The body of a tool: takes the arguments after the program name, returns the exit code.
using ToolBody = std::function<int(const std::vector<std::string>& arguments)>;

// Runs `body` as program `name`: a ToolError ends with its code and "NAME: error: MESSAGE" on
// standard error, any other exception with `unexpectedExitCode`.
int runTool(std::string_view name, int unexpectedExitCode, int argc, char** argv,
            const ToolBody& body);

// "NAME: warning: MESSAGE" on standard error, after what standard output holds so far.
void warn(std::string_view message);
// The same with "error" for a failure that does not end the tool at once.
void reportError(std::string_view message);

// "NAME VERSION", the project's version, for --version.
std::string versionLine();

}  // namespace vorlund
