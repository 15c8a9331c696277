// Layer: record
// The 524-byte parameter record that configures the whole voice chain. It is the content of
// params.bin and the parameter area of the shared block; every record from outside passes
// through sanitise() before the chain sees it. Layout is little-endian 4-byte fields only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vorlund {

// Flags are 32-bit integers: 0 off, anything else on (exactly 0 or 1 after sanitising).
using Bool32 = std::int32_t;

// The voice effect's characters, numbered as effectMode holds them.
enum class VoiceEffectMode : std::int32_t { Off, Robot, Radio, Telephone, Pitch, Echo, Reverb };
constexpr auto kLastVoiceEffectMode = VoiceEffectMode::Reverb;

struct EqBand {
  Bool32 enabled;
  std::int32_t type;  // FilterType numbering, 0..6
  float freqHz;
  float gainDb;
  float q;
};

struct ParameterBlock {
  static constexpr std::uint32_t kMagic = 0x444C5256;  // "VRLD" read as little-endian
  static constexpr std::uint32_t kVersion = 1;
  static constexpr std::uint32_t kSize = 524;
  static constexpr int kBandCount = 10;
  static constexpr int kReservedBytes = 128;

  char magic[4];
  std::uint32_t version;
  std::uint32_t size;
  Bool32 bypass;
  Bool32 mute;
  float inputGainDb;
  float outputGainDb;

  Bool32 highPassEnabled;
  float highPassHz;
  std::int32_t highPassOrder;
  Bool32 humFilterEnabled;
  float humBaseHz;
  std::int32_t humHarmonics;

  Bool32 nsEnabled;
  float nsReductionDb;
  float nsStrength;
  Bool32 plosiveEnabled;
  float plosiveStrength;

  Bool32 gateEnabled;
  Bool32 gateAuto;
  float gateThresholdDb;
  float gateRangeDb;
  float gateAttackMs;
  float gateHoldMs;
  float gateReleaseMs;

  Bool32 eqEnabled;
  float toneLow;
  float tonePresence;
  float toneAir;
  std::array<EqBand, kBandCount> eqBands;

  Bool32 deEsserEnabled;
  float deEsserHz;
  float deEsserAmount;
  Bool32 agcEnabled;
  float agcTargetDb;
  float agcMaxGainDb;
  float agcSpeed;
  Bool32 compEnabled;
  float compThresholdDb;
  float compRatio;
  float compAttackMs;
  float compReleaseMs;
  float compKneeDb;
  float compMakeupDb;
  Bool32 compAutoMakeup;
  std::int32_t effectMode;  // VoiceEffectMode
  float effectMix;
  float effectParam;
  Bool32 limiterEnabled;
  float limiterCeilingDb;

  std::uint8_t reserved[kReservedBytes];
};

// The equaliser's factory bands: a low shelf, seven peaking bands, a high shelf, one spare.
inline constexpr EqBand kFactoryBands[ParameterBlock::kBandCount] = {
    {1, 1, 100.0f, 0.0f, 0.7f},  {1, 0, 200.0f, 0.0f, 1.0f},  {1, 0, 400.0f, 0.0f, 1.0f},
    {1, 0, 800.0f, 0.0f, 1.0f},  {1, 0, 1600.0f, 0.0f, 1.0f}, {1, 0, 3200.0f, 0.0f, 1.0f},
    {1, 0, 5000.0f, 0.0f, 1.0f}, {1, 0, 8000.0f, 0.0f, 1.0f}, {1, 2, 12000.0f, 0.0f, 0.7f},
    {0, 0, 2500.0f, 0.0f, 1.0f},
};

// Fills the record with the factory settings (all bytes zeroed first).
void setDefaults(ParameterBlock& record) noexcept;

// Clamps every field into its range in place; never rejects, allocates nothing, idempotent.
// Safe on the real-time thread.
void sanitise(ParameterBlock& record) noexcept;

// The acceptance test for a record read from params.bin: the read delivered exactly
// kSize bytes, the magic is "VRLD" and the size field is kSize. The version is not examined.
bool isAcceptableFileRecord(const ParameterBlock& record, std::size_t bytesRead) noexcept;

static_assert(sizeof(EqBand) == 20);
static_assert(sizeof(ParameterBlock) == ParameterBlock::kSize);
static_assert(offsetof(ParameterBlock, version) == 4);
static_assert(offsetof(ParameterBlock, size) == 8);
static_assert(offsetof(ParameterBlock, bypass) == 12);
static_assert(offsetof(ParameterBlock, mute) == 16);
static_assert(offsetof(ParameterBlock, inputGainDb) == 20);
static_assert(offsetof(ParameterBlock, outputGainDb) == 24);
static_assert(offsetof(ParameterBlock, highPassEnabled) == 28);
static_assert(offsetof(ParameterBlock, highPassHz) == 32);
static_assert(offsetof(ParameterBlock, highPassOrder) == 36);
static_assert(offsetof(ParameterBlock, humFilterEnabled) == 40);
static_assert(offsetof(ParameterBlock, humBaseHz) == 44);
static_assert(offsetof(ParameterBlock, humHarmonics) == 48);
static_assert(offsetof(ParameterBlock, nsEnabled) == 52);
static_assert(offsetof(ParameterBlock, nsReductionDb) == 56);
static_assert(offsetof(ParameterBlock, nsStrength) == 60);
static_assert(offsetof(ParameterBlock, plosiveEnabled) == 64);
static_assert(offsetof(ParameterBlock, plosiveStrength) == 68);
static_assert(offsetof(ParameterBlock, gateEnabled) == 72);
static_assert(offsetof(ParameterBlock, gateAuto) == 76);
static_assert(offsetof(ParameterBlock, gateThresholdDb) == 80);
static_assert(offsetof(ParameterBlock, gateRangeDb) == 84);
static_assert(offsetof(ParameterBlock, gateAttackMs) == 88);
static_assert(offsetof(ParameterBlock, gateHoldMs) == 92);
static_assert(offsetof(ParameterBlock, gateReleaseMs) == 96);
static_assert(offsetof(ParameterBlock, eqEnabled) == 100);
static_assert(offsetof(ParameterBlock, toneLow) == 104);
static_assert(offsetof(ParameterBlock, tonePresence) == 108);
static_assert(offsetof(ParameterBlock, toneAir) == 112);
static_assert(offsetof(ParameterBlock, eqBands) == 116);
static_assert(offsetof(ParameterBlock, deEsserEnabled) == 316);
static_assert(offsetof(ParameterBlock, deEsserHz) == 320);
static_assert(offsetof(ParameterBlock, deEsserAmount) == 324);
static_assert(offsetof(ParameterBlock, agcEnabled) == 328);
static_assert(offsetof(ParameterBlock, agcTargetDb) == 332);
static_assert(offsetof(ParameterBlock, agcMaxGainDb) == 336);
static_assert(offsetof(ParameterBlock, agcSpeed) == 340);
static_assert(offsetof(ParameterBlock, compEnabled) == 344);
static_assert(offsetof(ParameterBlock, compThresholdDb) == 348);
static_assert(offsetof(ParameterBlock, compRatio) == 352);
static_assert(offsetof(ParameterBlock, compAttackMs) == 356);
static_assert(offsetof(ParameterBlock, compReleaseMs) == 360);
static_assert(offsetof(ParameterBlock, compKneeDb) == 364);
static_assert(offsetof(ParameterBlock, compMakeupDb) == 368);
static_assert(offsetof(ParameterBlock, compAutoMakeup) == 372);
static_assert(offsetof(ParameterBlock, effectMode) == 376);
static_assert(offsetof(ParameterBlock, effectMix) == 380);
static_assert(offsetof(ParameterBlock, effectParam) == 384);
static_assert(offsetof(ParameterBlock, limiterEnabled) == 388);
static_assert(offsetof(ParameterBlock, limiterCeilingDb) == 392);
static_assert(offsetof(ParameterBlock, reserved) == 396);

}  // namespace vorlund
