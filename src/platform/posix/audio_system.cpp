// Layer: platform
#include "platform/audio_system.h"

#include <unistd.h>

namespace vorlund {

DWORD listCaptureEndpoints(std::vector<CaptureEndpoint>&) {
  return ERROR_NOT_SUPPORTED;
}

DWORD defaultCaptureEndpoint(std::u16string&) {
  return ERROR_NOT_SUPPORTED;
}

DWORD restartAudioService() {
  return ERROR_NOT_SUPPORTED;
}

bool processIsElevated() noexcept {
  return geteuid() == 0;
}

}  // namespace vorlund
