#include "common/record_fields.h"

#include <bit>

#include "common/number_text.h"

namespace vorlund {

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
  if (kind == FieldKind::Float) return shortestText(std::bit_cast<float>(bits));
  return std::to_string(std::bit_cast<std::int32_t>(bits));
}

std::string formatFieldValue(std::uint32_t bits, const RecordField& field) {
  const std::string_view label = labelName(field, fieldNumber(bits, field.kind));
  return label.empty() ? formatFieldValue(bits, field.kind) : std::string(label);
}

}  // namespace vorlund
