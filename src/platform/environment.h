// Layer: platform
// Environment expansion and the system folders the data folder and the log fall back to.
// On Linux the environment variable ProgramData plays the part it plays on Windows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/error_codes.h"
#include "platform/path.h"

namespace vorlund {

// ExpandEnvironmentStringsW: replaces every %NAME% of a defined variable in `text` (ASCII)
// and leaves undefined ones as they are. Returns the characters the result needs including
// its terminator, or 0 on failure; `out` receives the result only when it fits.
DWORD expandEnvironmentStrings(std::string_view text, Path& out) noexcept;

// The ProgramData folder used when %ProgramData% does not expand: C:\ProgramData on
// Windows, /var/lib elsewhere.
Path programDataFallback() noexcept;

// The per-user folder for program state: $XDG_STATE_HOME when it is an absolute path, else
// $HOME/.local/state. Invalid on Windows, whose data folder is always the system-wide one,
// and when neither variable gives a folder.
Path userStateFolder() noexcept;

// The Windows directory's Temp folder (GetWindowsDirectoryW + \Temp); /tmp elsewhere.
// Invalid when the Windows directory cannot be found.
Path windowsTempFolder() noexcept;

// The folder the diagnostic log falls back to. On Windows the Windows directory's Temp
// folder. Elsewhere this user's own folder "vorlund-<uid>" in $TMPDIR (or /tmp), made with
// mode 0700 and used only while it is a real folder of this user's that nobody else may
// enter, so no other user can place a link or read the lines there. Invalid otherwise.
Path logTempFolder() noexcept;

// Tells running programs that the system environment changed (WM_SETTINGCHANGE with
// "Environment" to every top-level window, waiting at most 5 s for each; nothing elsewhere).
void announceEnvironmentChange() noexcept;

// The value of a variable of this process's environment (ASCII), or nothing when it is not set.
std::optional<std::string> environmentVariable(const char* name) noexcept;

// Sets (or with a null value removes) a variable of this process's environment, as later
// expansions see it. Returns false on failure.
bool setEnvironmentVariable(const char* name, const char* value) noexcept;

}  // namespace vorlund
