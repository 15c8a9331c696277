// How vorlund-process fails: an exit code a script can tell apart, and a message for people.
#pragma once

#include <string>

#include "common/tool_main.h"

namespace vorlund {

enum class ProcessExit : int {
  ok = 0,
  usage = 1,           // the command line
  inputFile = 2,       // unreadable or unsupported input, or an output that cannot be written
  badRecord = 3,       // --params, --preset or --set
  missingLibrary = 4,  // the APO library or one of its exports
  refusedFormat = 5,   // the APO does not take the file's rate or channel count
  apoFailure = 6,      // the APO failed a call it should have served
};

class ProcessError : public ToolError {
 public:
  ProcessError(ProcessExit code, const std::string& message)
      : ToolError(static_cast<int>(code), message) {}
  ProcessExit code() const noexcept { return static_cast<ProcessExit>(exitCode()); }
};

}  // namespace vorlund
