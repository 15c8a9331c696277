#include "apo/effects_list.h"

#include <cstring>

namespace vorlund {

// The record may be replaced on the real-time thread during this call; reading each switch
// once keeps the list self-consistent per entry, and the next call sees the new record.
std::uint32_t activeEffectTypes(const ParameterBlock& params,
                                std::array<GUID, kMaxEffectTypes>& types) noexcept {
  const Bool32 bypass = params.bypass;
  const Bool32 ns = params.nsEnabled;
  const Bool32 agc = params.agcEnabled;
  const Bool32 eq = params.eqEnabled;
  const Bool32 comp = params.compEnabled;
  const Bool32 limiter = params.limiterEnabled;
  if (bypass != 0) return 0;
  std::uint32_t count = 0;
  if (ns != 0) types[count++] = AUDIO_EFFECT_TYPE_NOISE_SUPPRESSION;
  if (agc != 0) types[count++] = AUDIO_EFFECT_TYPE_AUTOMATIC_GAIN_CONTROL;
  if (eq != 0) types[count++] = AUDIO_EFFECT_TYPE_EQUALIZER;
  if (comp != 0 || limiter != 0) types[count++] = AUDIO_EFFECT_TYPE_DYNAMIC_RANGE_COMPRESSION;
  return count;
}

HRESULT getEffectsList(const ParameterBlock& params, LPGUID* ppEffectsIds,
                       UINT* pcEffects) noexcept {
  if (ppEffectsIds == nullptr || pcEffects == nullptr) return E_POINTER;
  std::array<GUID, kMaxEffectTypes> types;
  const std::uint32_t count = activeEffectTypes(params, types);
  *pcEffects = count;
  *ppEffectsIds = nullptr;
  if (count == 0) return S_OK;
  auto* list = static_cast<GUID*>(CoTaskMemAlloc(count * sizeof(GUID)));
  if (list == nullptr) return E_OUTOFMEMORY;
  std::memcpy(list, types.data(), count * sizeof(GUID));
  *ppEffectsIds = list;
  return S_OK;
}

HRESULT getControllableSystemEffectsList(AUDIO_SYSTEMEFFECT** effects, UINT* numEffects) noexcept {
  if (effects == nullptr || numEffects == nullptr) return E_POINTER;
  *effects = nullptr;
  *numEffects = 0;
  return S_OK;
}

}  // namespace vorlund
