// Layer: platform
// What the control application asks of the Windows audio system and its administration: the
// capture endpoints as IMMDeviceEnumerator reports them, the default microphone, a restart of
// the Windows Audio service, and whether this process runs with administrator rights. Elsewhere
// the audio calls fail with ERROR_NOT_SUPPORTED. Configuration code: allocates and blocks.
#pragma once

#include <string>
#include <vector>

#include "platform/error_codes.h"

namespace vorlund {

struct CaptureEndpoint {
  std::u16string id;            // IMMDevice::GetId: "{0.0.1.00000000}.{guid}"
  std::u16string friendlyName;  // PKEY_Device_FriendlyName; empty when it cannot be read
  DWORD state = 0;              // IMMDevice::GetState: DEVICE_STATE_ACTIVE (1) ...
};

// DEVICE_STATE_* as IMMDevice::GetState reports them.
constexpr DWORD kEndpointActive = 0x1;
constexpr DWORD kEndpointDisabled = 0x2;
constexpr DWORD kEndpointNotPresent = 0x4;
constexpr DWORD kEndpointUnplugged = 0x8;

// IMMDeviceEnumerator::EnumAudioEndpoints(eCapture, DEVICE_STATEMASK_ALL), in its order.
DWORD listCaptureEndpoints(std::vector<CaptureEndpoint>& endpoints);
// IMMDeviceEnumerator::GetDefaultAudioEndpoint(eCapture, eConsole): the default microphone's id.
DWORD defaultCaptureEndpoint(std::u16string& id);
// Stops the Windows Audio service (Audiosrv) through the service control manager, waits up
// to 30 seconds for it to stop, and starts it again.
DWORD restartAudioService();
// Whether the process token is elevated (TokenElevation); on Linux, whether it runs as root.
bool processIsElevated() noexcept;

}  // namespace vorlund
