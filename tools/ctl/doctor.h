// 'vorlund-ctl doctor [DEVICE]': the checks to run when the effect seems not to work, each
// with a verdict and what to do. Windows only.
#pragma once

#include "common/ctl_error.h"
#include "ctl_options.h"
#include "platform/path.h"

namespace vorlund {

ExitCode runDoctor(const CtlOptions& options, const Path& dataFolder);

}  // namespace vorlund
