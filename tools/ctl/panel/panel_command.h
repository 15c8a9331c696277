// 'vorlund-ctl panel': the control panel in the browser, served on the loopback interface.
#pragma once

#include <filesystem>

#include "common/control_session.h"
#include "common/ctl_error.h"
#include "ctl_options.h"

namespace vorlund {

// Serves until the process ends; the presets are those of the other commands (--presets-dir,
// else the built-in ones) and the user's.
ExitCode runPanel(const ControlSession& session, const CtlOptions& options);

}  // namespace vorlund
