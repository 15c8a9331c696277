// Layer: apo
#include "apo/effects_list.h"

#include <cstring>

namespace vorlund {

std::uint32_t activeEffectTypes(std::uint32_t switches,
                                std::array<GUID, kMaxEffectTypes>& types) noexcept {
  if ((switches & kBypassSwitch) != 0) return 0;
  std::uint32_t count = 0;
  if ((switches & kSuppressorSwitch) != 0) types[count++] = AUDIO_EFFECT_TYPE_NOISE_SUPPRESSION;
  if ((switches & kAgcSwitch) != 0) types[count++] = AUDIO_EFFECT_TYPE_AUTOMATIC_GAIN_CONTROL;
  if ((switches & kEqualizerSwitch) != 0) types[count++] = AUDIO_EFFECT_TYPE_EQUALIZER;
  if ((switches & (kCompressorSwitch | kLimiterSwitch)) != 0)
    types[count++] = AUDIO_EFFECT_TYPE_DYNAMIC_RANGE_COMPRESSION;
  return count;
}

HRESULT getEffectsList(std::uint32_t switches, LPGUID* ppEffectsIds, UINT* pcEffects) noexcept {
  if (ppEffectsIds == nullptr || pcEffects == nullptr) return E_POINTER;
  std::array<GUID, kMaxEffectTypes> types;
  const std::uint32_t count = activeEffectTypes(switches, types);
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
