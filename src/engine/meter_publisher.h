// Layer: engine
// Publishes the chain's per-block meters into the shared block, as levels in dB.
#pragma once

#include <cstdint>

#include "engine/chain_meters.h"
#include "engine/shared_block.h"

namespace vorlund {

// Real-time thread, once per block after the chain has run: counts the block, stamps it with
// the tick count and publishes the chain's meters, the record's bypass switch and the
// processing load.
void publishMeters(SharedBlock& block, const ChainMeters& meters, Bool32 bypass,
                   float processingLoad) noexcept;

}  // namespace vorlund
