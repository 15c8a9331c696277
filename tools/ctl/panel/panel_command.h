// 'vorlund-ctl panel': the control panel in the browser, served on the loopback interface.
#pragma once

#include <filesystem>

#include "control_session.h"
#include "ctl_error.h"
#include "ctl_options.h"

namespace vorlund {

// Serves until the process ends; `presets` is empty when there is no shipped presets folder.
ExitCode runPanel(const ControlSession& session, const CtlOptions& options,
                  const std::filesystem::path& presets);

}  // namespace vorlund
