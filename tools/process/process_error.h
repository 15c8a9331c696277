// How vorlund-process fails: an exit code of the tools' table, which a script can tell apart,
// and a message for people.
#pragma once

#include <string>

#include "common/exit_codes.h"
#include "common/tool_main.h"

namespace vorlund {

class ProcessError : public ToolError {
 public:
  ProcessError(ExitCode code, const std::string& message)
      : ToolError(static_cast<int>(code), message) {}
  ExitCode code() const noexcept { return static_cast<ExitCode>(exitCode()); }
};

}  // namespace vorlund
