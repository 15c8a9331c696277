#include "panel_command.h"

#include <iostream>
#include <memory>

#include "common/preset_library.h"
#include "common/record_file.h"
#include "panel_api.h"
#include "panel_home.h"
#include "panel_server.h"
#include "platform/process.h"

namespace vorlund {

ExitCode runPanel(const ControlSession& session, const CtlOptions& options) {
  // The port and key of the last panel on this data folder, so that a tab still open finds
  // this one; a port taken meanwhile gives way to a free one.
  const std::string folder = session.dataFolder().toUtf8();
  const std::optional<PanelIdentity> saved = savedIdentity(folder);
  std::unique_ptr<PanelServer> server;
  if (!options.port && saved) {
    try {
      server = std::make_unique<PanelServer>(saved->port);
    } catch (const CtlError&) {
    }
  }
  if (!server) server = std::make_unique<PanelServer>(options.port.value_or(0));
  PanelIdentity identity{server->port(), saved ? saved->token : makePanelToken()};
  if (!saveIdentity(folder, identity))
    std::cerr << "vorlund-ctl: warning: cannot keep the panel's port and key for the next start"
              << std::endl;
  const std::string url = identity.url();
  const std::optional<std::filesystem::path> launchPage =
      options.noBrowser ? std::nullopt : writeLaunchPage(identity);
  std::optional<std::filesystem::path> presets;
  if (options.presetsDir) presets = pathFromUtf8(*options.presetsDir);
  PanelApi api(session.dataFolder(), {presets, userPresetsFolder()}, std::move(identity));
  std::cout << "Vorlund control panel for " << session.dataFolder().toUtf8() << "\n"
            << "open " << url << "\n"
            << "(the address holds the panel's key: keep it to yourself; Ctrl+C ends the panel)"
            << std::endl;
  // The browser opens the private launch page, so the key is on no command line.
  if (!options.noBrowser && (!launchPage || !openInBrowser(displayPath(*launchPage))))
    std::cerr << "vorlund-ctl: warning: could not start a browser; open the address by hand"
              << std::endl;
  server->run(api);
}

}  // namespace vorlund
