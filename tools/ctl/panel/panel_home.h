// Where the panel keeps what only its user may see: the launch page that hands the browser the
// key (so the key is on no command line), and the port and key it used for each data folder
// (so a reopened panel serves a tab that is still open). Both are private files: 0600 in a
// folder only the user may enter ($XDG_RUNTIME_DIR, else /tmp/vorlund-<uid>; the user's
// state folder), %LOCALAPPDATA%\Vorlund on Windows.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "panel_request.h"

namespace vorlund {

// Writes `content` as a private file, replacing any file of that name; false on failure.
bool writePrivateFile(const std::filesystem::path& path, std::string_view content);

// The page that forwards the browser to `identity`'s address, written as a private file;
// none when there is no private folder for it.
std::optional<std::filesystem::path> writeLaunchPage(const PanelIdentity& identity);

// The port and key the panel last used for `dataFolder`; none when never saved, unreadable,
// or not private to this user.
std::optional<PanelIdentity> savedIdentity(std::string_view dataFolder);
// Remembers them for the next panel on `dataFolder`; false when it could not.
bool saveIdentity(std::string_view dataFolder, const PanelIdentity& identity);

}  // namespace vorlund
