// Layer: engine
#include "engine/forced_vector_path.h"

#include "chain/vector_path.h"
#include "platform/environment.h"

namespace vorlund {

void applyForcedVectorPath() noexcept {
  const std::optional<std::string> value = environmentVariable("VORLUND_SIMD");
  forceVectorPath(value ? vectorPathNamed(*value) : std::nullopt);
}

}  // namespace vorlund
