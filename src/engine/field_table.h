// Layer: record
// The one description of the parameter record's user fields: for each, its text name, a short
// label a person reads, offset, kind, unit, factory default, the range sanitise() enforces, the
// labels of a choice, the stage it sets and a line a user understands. The tools' text and JSON
// forms, the parameter reference in docs/, the LV2 ports and the control panel all walk this
// table, so a field is described in exactly one place. The header (magic, version, size) and
// the reserved tail are not user fields and are absent. Plain constant data: no allocation, no
// OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/parameter_block.h"

namespace vorlund {

enum class FieldKind { Flag, Int, Float };

// The stage a field belongs to, in the order the chain runs them (the panel groups by it).
enum class FieldStage {
  levels,
  cleanUp,
  noiseSuppressor,
  plosive,
  gate,
  equaliser,
  deEsser,
  agc,
  compressor,
  voiceEffect,
  limiter,
};

// One named value of a choice field ("peaking" for band type 0, "60Hz" for humBaseHz 60).
struct FieldLabel {
  float value;
  std::string_view name;
};

struct RecordField {
  std::string_view name;   // "inputGainDb", "eqBands[3].gainDb", ...
  std::string_view label;  // a short plain phrase: "Noise reduction", "Band 4 gain"
  std::size_t offset;      // bytes from the start of ParameterBlock; every field is 4 bytes
  FieldKind kind;
  std::string_view unit;  // "dB", "dBFS", "Hz", "ms", or empty for switches and 0..1 amounts
  float defaultValue;     // as setDefaults writes it
  float minimum;          // sanitise's bounds; a choice's values lie between them
  float maximum;
  std::span<const FieldLabel> labels;  // the values a choice may take; empty otherwise
  FieldStage stage;
  std::string_view meaning;  // one line, for help texts and the panel
};

// Every user field in offset order.
std::span<const RecordField> recordFields() noexcept;

// The field with exactly this name, or null.
const RecordField* findRecordField(std::string_view name) noexcept;

// A short name ("noiseSuppressor") and a title ("Noise suppressor") for a stage.
std::string_view stageName(FieldStage stage) noexcept;
std::string_view stageTitle(FieldStage stage) noexcept;

// The label whose name matches, ignoring case, or none.
std::optional<float> labelValue(const RecordField& field, std::string_view text) noexcept;

// The label naming this value, or empty when the value has none.
std::string_view labelName(const RecordField& field, float value) noexcept;

// The field's four bytes as stored (int32 or float bits), and their replacement.
std::uint32_t fieldBits(const ParameterBlock& record, const RecordField& field) noexcept;
void setFieldBits(ParameterBlock& record, const RecordField& field, std::uint32_t bits) noexcept;

// The stored bits read as a number, whatever the kind.
float fieldNumber(std::uint32_t bits, FieldKind kind) noexcept;

// The bits that store this number in a field of this kind (ints round to nearest).
std::uint32_t numberBits(float value, FieldKind kind) noexcept;

}  // namespace vorlund
