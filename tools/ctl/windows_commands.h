// The commands that install the effect on Windows: 'devices', 'attach', 'detach', 'setup' and
// 'path'. Elsewhere they say they are for Windows only.
#pragma once

#include <string>
#include <vector>

#include "common/ctl_error.h"
#include "ctl_options.h"
#include "platform/path.h"

namespace vorlund {

ExitCode runDevices(const CtlOptions& options);
ExitCode runAttach(const CtlOptions& options);
ExitCode runDetach(const CtlOptions& options);
ExitCode runSetup(const Path& dataFolder);
// 'path add' or 'path remove': vorlund-ctl's own folder on the system PATH, or off it.
ExitCode runPath(const CtlOptions& options);

// A microphone as other commands name it.
struct DeviceSummary {
  std::u16string keyName;
  std::string label;  // "USB Headset Mic ({0.0.1.00000000}.{...})"
  bool touched;       // attached, or backed up by an attach
};
std::vector<DeviceSummary> deviceSummaries();
// DEVICE as 'attach' takes it, as its key name; throws CtlError.
std::u16string resolveDeviceKey(const std::string& device);

// The data folder's security descriptor, as 'setup' gives it (the README explains each entry).
inline constexpr char16_t kDataFolderSddl[] =
    u"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1301bb;;;LS)(A;OIIO;0x1301bf;;;LS)"
    u"(A;;0x1200a9;;;IU)(A;OIIO;0x12008b;;;IU)";

}  // namespace vorlund
