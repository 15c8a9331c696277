// Which standard kinds of processing the effect performs, as Windows asks a system effect
// through IAudioSystemEffects2/3: derived on each call from the chain's current record.
// None of the effects can be switched from Windows; all control goes through the parameter
// channel.
#pragma once

#include <array>
#include <cstdint>

#include "engine/parameter_block.h"
#include "platform/com/apo_interfaces.h"

namespace vorlund {

constexpr std::uint32_t kMaxEffectTypes = 4;

// The effect types of the stages switched on in `params`, in the list's fixed order (noise
// suppression, automatic gain control, equalizer, dynamic range compression); none when
// bypassed. Each switch is read once. Returns the count.
std::uint32_t activeEffectTypes(const ParameterBlock& params,
                                std::array<GUID, kMaxEffectTypes>& types) noexcept;

// Configuration thread; may allocate. GetEffectsList: the list in CoTaskMemAlloc memory, or
// a null list with count 0. E_POINTER, E_OUTOFMEMORY (*ppEffectsIds null) or S_OK.
HRESULT getEffectsList(const ParameterBlock& params, LPGUID* ppEffectsIds,
                       UINT* pcEffects) noexcept;
// GetControllableSystemEffectsList: always the empty list. E_POINTER or S_OK.
HRESULT getControllableSystemEffectsList(AUDIO_SYSTEMEFFECT** effects, UINT* numEffects) noexcept;

}  // namespace vorlund
