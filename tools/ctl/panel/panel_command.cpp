#include "panel_command.h"

#include <iostream>

#include "common/preset_library.h"
#include "common/record_file.h"
#include "panel_api.h"
#include "panel_server.h"
#include "platform/process.h"

namespace vorlund {

ExitCode runPanel(const ControlSession& session, const CtlOptions& options) {
  PanelServer server(options.port.value_or(0));
  PanelIdentity identity{server.port(), makePanelToken()};
  const std::string url = identity.url();
  std::optional<std::filesystem::path> presets;
  if (options.presetsDir) presets = pathFromUtf8(*options.presetsDir);
  PanelApi api(session.dataFolder(), {presets, userPresetsFolder()}, std::move(identity));
  std::cout << "Vorlund control panel for " << session.dataFolder().toUtf8() << "\n"
            << "open " << url << "\n"
            << "(the address holds this session's key; Ctrl+C ends the panel)" << std::endl;
  if (!options.noBrowser && !openInBrowser(url))
    std::cerr << "vorlund-ctl: warning: could not start a browser; open the address by hand"
              << std::endl;
  server.run(api);
}

}  // namespace vorlund
