// The commands of vorlund-ctl. Each returns its exit code; what stops it is thrown as a
// CtlError carrying the message and the code.
#pragma once

#include "common/ctl_error.h"
#include "ctl_options.h"

namespace vorlund {

ExitCode runCommand(const CtlOptions& options);

}  // namespace vorlund
