// How vorlund-ctl fails: the error that carries an exit code of the tools' table up to the
// tool's main, which prints its message.
#pragma once

#include <string>

#include "common/exit_codes.h"
#include "common/tool_main.h"

namespace vorlund {

class CtlError : public ToolError {
 public:
  CtlError(ExitCode code, const std::string& message)
      : ToolError(static_cast<int>(code), message) {}
  ExitCode code() const noexcept { return static_cast<ExitCode>(exitCode()); }
};

}  // namespace vorlund
