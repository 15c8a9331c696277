// Layer: apo
// Which standard kinds of processing the effect performs, as Windows asks a system effect
// through IAudioSystemEffects2/3: derived on each call from the switches of the chain's
// current record, which the real-time thread publishes as one word (BlockFrame::switches).
// None of the effects can be switched from Windows; all control goes through the parameter
// channel.
#pragma once

#include <array>
#include <cstdint>

#include "engine/block_frame.h"
#include "engine/parameter_block.h"
#include "platform/com/apo_interfaces.h"

namespace vorlund {

constexpr std::uint32_t kMaxEffectTypes = 4;

// The effect types of the stages switched on in `switches` (effectSwitches()), in the list's
// fixed order (noise suppression, automatic gain control, equalizer, dynamic range
// compression); none when bypassed. Returns the count.
std::uint32_t activeEffectTypes(std::uint32_t switches,
                                std::array<GUID, kMaxEffectTypes>& types) noexcept;
inline std::uint32_t activeEffectTypes(const ParameterBlock& params,
                                       std::array<GUID, kMaxEffectTypes>& types) noexcept {
  return activeEffectTypes(effectSwitches(params), types);
}

// Configuration thread; may allocate. GetEffectsList: the list in CoTaskMemAlloc memory, or
// a null list with count 0. E_POINTER, E_OUTOFMEMORY (*ppEffectsIds null) or S_OK.
HRESULT getEffectsList(std::uint32_t switches, LPGUID* ppEffectsIds, UINT* pcEffects) noexcept;
inline HRESULT getEffectsList(const ParameterBlock& params, LPGUID* ppEffectsIds,
                              UINT* pcEffects) noexcept {
  return getEffectsList(effectSwitches(params), ppEffectsIds, pcEffects);
}
// GetControllableSystemEffectsList: always the empty list. E_POINTER or S_OK.
HRESULT getControllableSystemEffectsList(AUDIO_SYSTEMEFFECT** effects, UINT* numEffects) noexcept;

}  // namespace vorlund
