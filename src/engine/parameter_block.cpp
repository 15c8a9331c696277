#include "engine/parameter_block.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace vorlund {
namespace {

constexpr char kMagicText[4] = {'V', 'R', 'L', 'D'};

void flag(Bool32& value) {
  value = value != 0 ? 1 : 0;
}

// A subnormal value counts as 0, tested on its bits: the real-time thread compares with
// denormals-are-zero in force and other threads without, and one record must sanitise alike
// on both (a positive subnormal would otherwise pass an upper bound of 0 there).
void flushSubnormal(float& value) {
  constexpr std::uint32_t kExponentBits = 0x7F800000u;
  constexpr std::uint32_t kFractionBits = 0x007FFFFFu;
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  if ((bits & kExponentBits) == 0 && (bits & kFractionBits) != 0) value = 0.0f;
}

// NaN and values below the range take the lower bound; the comparison stays in float.
void clamp(float& value, float lower, float upper) {
  flushSubnormal(value);
  if (!(value >= lower)) {
    value = lower;
  } else if (value > upper) {
    value = upper;
  }
}

void clamp(std::int32_t& value, std::int32_t lower, std::int32_t upper) {
  if (value < lower) {
    value = lower;
  } else if (value > upper) {
    value = upper;
  }
}

}  // namespace

void setDefaults(ParameterBlock& r) noexcept {
  std::memset(&r, 0, sizeof r);
  std::memcpy(r.magic, kMagicText, sizeof kMagicText);
  r.version = ParameterBlock::kVersion;
  r.size = ParameterBlock::kSize;
  r.highPassEnabled = 1;
  r.highPassHz = 80.0f;
  r.highPassOrder = 2;
  r.humBaseHz = 50.0f;
  r.humHarmonics = 4;
  r.nsEnabled = 1;
  r.nsReductionDb = 18.0f;
  r.nsStrength = 0.5f;
  r.plosiveEnabled = 1;
  r.plosiveStrength = 0.5f;
  r.gateAuto = 1;
  r.gateThresholdDb = -50.0f;
  r.gateRangeDb = 18.0f;
  r.gateAttackMs = 2.0f;
  r.gateHoldMs = 150.0f;
  r.gateReleaseMs = 180.0f;
  r.eqEnabled = 1;
  for (int i = 0; i < ParameterBlock::kBandCount; ++i) r.eqBands[i] = kFactoryBands[i];
  r.deEsserEnabled = 1;
  r.deEsserHz = 6500.0f;
  r.deEsserAmount = 0.35f;
  r.agcTargetDb = -18.0f;
  r.agcMaxGainDb = 12.0f;
  r.agcSpeed = 0.4f;
  r.compEnabled = 1;
  r.compThresholdDb = -22.0f;
  r.compRatio = 3.0f;
  r.compAttackMs = 5.0f;
  r.compReleaseMs = 120.0f;
  r.compKneeDb = 6.0f;
  r.compAutoMakeup = 1;
  r.effectMix = 0.5f;
  r.effectParam = 0.5f;
  r.limiterEnabled = 1;
  r.limiterCeilingDb = -1.0f;
}

void sanitise(ParameterBlock& r) noexcept {
  std::memcpy(r.magic, kMagicText, sizeof kMagicText);
  r.version = ParameterBlock::kVersion;
  r.size = ParameterBlock::kSize;
  flag(r.bypass);
  flag(r.mute);
  clamp(r.inputGainDb, -20.0f, 30.0f);
  clamp(r.outputGainDb, -20.0f, 20.0f);

  flag(r.highPassEnabled);
  clamp(r.highPassHz, 20.0f, 300.0f);
  r.highPassOrder = r.highPassOrder >= 4 ? 4 : 2;
  flag(r.humFilterEnabled);
  r.humBaseHz = r.humBaseHz > 55.0f ? 60.0f : 50.0f;
  clamp(r.humHarmonics, 1, 8);

  flag(r.nsEnabled);
  clamp(r.nsReductionDb, 3.0f, 40.0f);
  clamp(r.nsStrength, 0.0f, 1.0f);
  flag(r.plosiveEnabled);
  clamp(r.plosiveStrength, 0.0f, 1.0f);

  flag(r.gateEnabled);
  flag(r.gateAuto);
  clamp(r.gateThresholdDb, -80.0f, -10.0f);
  clamp(r.gateRangeDb, 3.0f, 80.0f);
  clamp(r.gateAttackMs, 0.1f, 50.0f);
  clamp(r.gateHoldMs, 0.0f, 1000.0f);
  clamp(r.gateReleaseMs, 10.0f, 2000.0f);

  flag(r.eqEnabled);
  clamp(r.toneLow, -1.0f, 1.0f);
  clamp(r.tonePresence, -1.0f, 1.0f);
  clamp(r.toneAir, -1.0f, 1.0f);
  for (EqBand& band : r.eqBands) {
    flag(band.enabled);
    clamp(band.type, 0, 6);
    clamp(band.freqHz, 20.0f, 20000.0f);
    clamp(band.gainDb, -24.0f, 24.0f);
    clamp(band.q, 0.1f, 18.0f);
  }

  flag(r.deEsserEnabled);
  clamp(r.deEsserHz, 3000.0f, 10000.0f);
  clamp(r.deEsserAmount, 0.0f, 1.0f);
  flag(r.agcEnabled);
  clamp(r.agcTargetDb, -30.0f, -10.0f);
  clamp(r.agcMaxGainDb, 0.0f, 30.0f);
  clamp(r.agcSpeed, 0.0f, 1.0f);
  flag(r.compEnabled);
  clamp(r.compThresholdDb, -60.0f, 0.0f);
  clamp(r.compRatio, 1.0f, 20.0f);
  clamp(r.compAttackMs, 0.1f, 200.0f);
  clamp(r.compReleaseMs, 10.0f, 2000.0f);
  clamp(r.compKneeDb, 0.0f, 24.0f);
  clamp(r.compMakeupDb, -12.0f, 24.0f);
  flag(r.compAutoMakeup);
  clamp(r.effectMode, 0, static_cast<std::int32_t>(kLastVoiceEffectMode));
  clamp(r.effectMix, 0.0f, 1.0f);
  clamp(r.effectParam, 0.0f, 1.0f);
  flag(r.limiterEnabled);
  clamp(r.limiterCeilingDb, -12.0f, 0.0f);
}

bool isAcceptableFileRecord(const ParameterBlock& r, std::size_t bytesRead) noexcept {
  return bytesRead == ParameterBlock::kSize &&
         std::memcmp(r.magic, kMagicText, sizeof kMagicText) == 0 &&
         r.size == ParameterBlock::kSize;
}

}  // namespace vorlund
