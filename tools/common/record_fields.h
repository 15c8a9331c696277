// The one description of the parameter record's user fields: name as written in text records,
// kind and byte offset. Parsing, formatting, name suggestions and any other listing of the
// record walk this table, so a field is described in exactly one place. The header (magic,
// version, size) and the reserved tail are not user fields and are absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/parameter_block.h"

namespace vorlund {

enum class FieldKind { Flag, Int, Float };

struct RecordField {
  std::string name;  // "inputGainDb", "eqBands[3].gainDb", ...
  FieldKind kind;
  std::size_t offset;  // bytes from the start of ParameterBlock; every field is 4 bytes
};

// Every user field in offset order.
std::span<const RecordField> recordFields();

// The field with exactly this name, or null.
const RecordField* findRecordField(std::string_view name);

// The field's four bytes as stored (int32 or float bits), and their replacement.
std::uint32_t fieldBits(const ParameterBlock& record, const RecordField& field);
void setFieldBits(ParameterBlock& record, const RecordField& field, std::uint32_t bits);

// One user field that differs between two records, with its bits before and after.
struct FieldChange {
  const RecordField* field;
  std::uint32_t before;
  std::uint32_t after;
};

// The user fields whose bits differ, in offset order.
std::vector<FieldChange> recordChanges(const ParameterBlock& before, const ParameterBlock& after);

// The value as the text form writes it: flags and ints in decimal, floats in the shortest
// decimal that reads back to the same bits ("0.7", "-18", "inf", "nan").
std::string formatFieldValue(std::uint32_t bits, FieldKind kind);

}  // namespace vorlund
