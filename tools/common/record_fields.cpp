#include "common/record_fields.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <vector>

namespace vorlund {
namespace {

struct FieldSpec {
  std::string_view name;
  FieldKind kind;
  std::size_t offset;
};

using P = ParameterBlock;
constexpr FieldSpec kTopFields[] = {
    {"bypass", FieldKind::Flag, offsetof(P, bypass)},
    {"mute", FieldKind::Flag, offsetof(P, mute)},
    {"inputGainDb", FieldKind::Float, offsetof(P, inputGainDb)},
    {"outputGainDb", FieldKind::Float, offsetof(P, outputGainDb)},
    {"highPassEnabled", FieldKind::Flag, offsetof(P, highPassEnabled)},
    {"highPassHz", FieldKind::Float, offsetof(P, highPassHz)},
    {"highPassOrder", FieldKind::Int, offsetof(P, highPassOrder)},
    {"humFilterEnabled", FieldKind::Flag, offsetof(P, humFilterEnabled)},
    {"humBaseHz", FieldKind::Float, offsetof(P, humBaseHz)},
    {"humHarmonics", FieldKind::Int, offsetof(P, humHarmonics)},
    {"nsEnabled", FieldKind::Flag, offsetof(P, nsEnabled)},
    {"nsReductionDb", FieldKind::Float, offsetof(P, nsReductionDb)},
    {"nsStrength", FieldKind::Float, offsetof(P, nsStrength)},
    {"plosiveEnabled", FieldKind::Flag, offsetof(P, plosiveEnabled)},
    {"plosiveStrength", FieldKind::Float, offsetof(P, plosiveStrength)},
    {"gateEnabled", FieldKind::Flag, offsetof(P, gateEnabled)},
    {"gateAuto", FieldKind::Flag, offsetof(P, gateAuto)},
    {"gateThresholdDb", FieldKind::Float, offsetof(P, gateThresholdDb)},
    {"gateRangeDb", FieldKind::Float, offsetof(P, gateRangeDb)},
    {"gateAttackMs", FieldKind::Float, offsetof(P, gateAttackMs)},
    {"gateHoldMs", FieldKind::Float, offsetof(P, gateHoldMs)},
    {"gateReleaseMs", FieldKind::Float, offsetof(P, gateReleaseMs)},
    {"eqEnabled", FieldKind::Flag, offsetof(P, eqEnabled)},
    {"toneLow", FieldKind::Float, offsetof(P, toneLow)},
    {"tonePresence", FieldKind::Float, offsetof(P, tonePresence)},
    {"toneAir", FieldKind::Float, offsetof(P, toneAir)},
    {"deEsserEnabled", FieldKind::Flag, offsetof(P, deEsserEnabled)},
    {"deEsserHz", FieldKind::Float, offsetof(P, deEsserHz)},
    {"deEsserAmount", FieldKind::Float, offsetof(P, deEsserAmount)},
    {"agcEnabled", FieldKind::Flag, offsetof(P, agcEnabled)},
    {"agcTargetDb", FieldKind::Float, offsetof(P, agcTargetDb)},
    {"agcMaxGainDb", FieldKind::Float, offsetof(P, agcMaxGainDb)},
    {"agcSpeed", FieldKind::Float, offsetof(P, agcSpeed)},
    {"compEnabled", FieldKind::Flag, offsetof(P, compEnabled)},
    {"compThresholdDb", FieldKind::Float, offsetof(P, compThresholdDb)},
    {"compRatio", FieldKind::Float, offsetof(P, compRatio)},
    {"compAttackMs", FieldKind::Float, offsetof(P, compAttackMs)},
    {"compReleaseMs", FieldKind::Float, offsetof(P, compReleaseMs)},
    {"compKneeDb", FieldKind::Float, offsetof(P, compKneeDb)},
    {"compMakeupDb", FieldKind::Float, offsetof(P, compMakeupDb)},
    {"compAutoMakeup", FieldKind::Flag, offsetof(P, compAutoMakeup)},
    {"effectMode", FieldKind::Int, offsetof(P, effectMode)},
    {"effectMix", FieldKind::Float, offsetof(P, effectMix)},
    {"effectParam", FieldKind::Float, offsetof(P, effectParam)},
    {"limiterEnabled", FieldKind::Flag, offsetof(P, limiterEnabled)},
    {"limiterCeilingDb", FieldKind::Float, offsetof(P, limiterCeilingDb)},
};

constexpr FieldSpec kBandFields[] = {
    {"enabled", FieldKind::Flag, offsetof(EqBand, enabled)},
    {"type", FieldKind::Int, offsetof(EqBand, type)},
    {"freqHz", FieldKind::Float, offsetof(EqBand, freqHz)},
    {"gainDb", FieldKind::Float, offsetof(EqBand, gainDb)},
    {"q", FieldKind::Float, offsetof(EqBand, q)},
};

std::vector<RecordField> buildTable() {
  std::vector<RecordField> fields;
  for (const FieldSpec& entry : kTopFields) {
    fields.push_back({std::string(entry.name), entry.kind, entry.offset});
  }
  for (int band = 0; band < ParameterBlock::kBandCount; ++band) {
    const std::size_t bandOffset = offsetof(P, eqBands) + band * sizeof(EqBand);
    for (const FieldSpec& entry : kBandFields) {
      fields.push_back({"eqBands[" + std::to_string(band) + "]." + std::string(entry.name),
                        entry.kind, bandOffset + entry.offset});
    }
  }
  std::sort(fields.begin(), fields.end(),
            [](const RecordField& a, const RecordField& b) { return a.offset < b.offset; });
  return fields;
}

}  // namespace

std::span<const RecordField> recordFields() {
  static const std::vector<RecordField> table = buildTable();
  return table;
}

const RecordField* findRecordField(std::string_view name) {
  for (const RecordField& field : recordFields()) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

std::uint32_t fieldBits(const ParameterBlock& record, const RecordField& field) {
  std::uint32_t bits;
  std::memcpy(&bits, reinterpret_cast<const unsigned char*>(&record) + field.offset, sizeof bits);
  return bits;
}

void setFieldBits(ParameterBlock& record, const RecordField& field, std::uint32_t bits) {
  std::memcpy(reinterpret_cast<unsigned char*>(&record) + field.offset, &bits, sizeof bits);
}

std::vector<FieldChange> recordChanges(const ParameterBlock& before, const ParameterBlock& after) {
  std::vector<FieldChange> changes;
  for (const RecordField& field : recordFields()) {
    const std::uint32_t was = fieldBits(before, field);
    const std::uint32_t is = fieldBits(after, field);
    if (was != is) changes.push_back({&field, was, is});
  }
  return changes;
}

std::string formatFieldValue(std::uint32_t bits, FieldKind kind) {
  std::array<char, 32> text;
  const auto result =
      kind == FieldKind::Float
          ? std::to_chars(text.data(), text.data() + text.size(), std::bit_cast<float>(bits))
          : std::to_chars(text.data(), text.data() + text.size(),
                          std::bit_cast<std::int32_t>(bits));
  return std::string(text.data(), result.ptr);
}

}  // namespace vorlund
