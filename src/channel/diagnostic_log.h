// Layer: channel
// The diagnostic log apo.log: one stamped line per event, appended in the data folder or,
// failing that, in the Temp fallback (logTempFolder: the Windows directory's Temp folder, or
// this user's private folder in /tmp), rotated once to apo.old.log when it
// grows past 256 KiB. Logging never fails loudly: a line that cannot be written is dropped.
// Also home of the data folder, which the parameter channel uses too.
#pragma once

#include "platform/format_attribute.h"
#include "platform/path.h"

namespace vorlund {

// Where the data folder was found: the system-wide one, or (Linux) the per-user one.
enum class DataFolderScope { systemWide, perUser };

struct DataFolderChoice {
  Path folder;
  DataFolderScope scope;
};

// Any thread but the real-time one (it may query the file system): %ProgramData%\Vorlund,
// with C:\ProgramData (Linux: /var/lib) when the variable does not expand. On Linux, with
// ProgramData unset and no /var/lib/Vorlund, a per-user install's folder instead:
// userStateFolder()/vorlund. The folder is never created here.
DataFolderChoice chooseDataFolder() noexcept;
Path dataFolder() noexcept;

// Configuration threads only, never the real-time thread: formats the message (cut to 511
// characters), stamps it with the local time and process id and appends it as one write.
void logLine(const char* format, ...) noexcept VORLUND_PRINTF_FORMAT(1, 2);

}  // namespace vorlund
