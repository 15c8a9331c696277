#include "common/record_fields.h"

#include <array>
#include <bit>
#include <charconv>

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
  std::array<char, 32> text;
  const auto result =
      kind == FieldKind::Float
          ? std::to_chars(text.data(), text.data() + text.size(), std::bit_cast<float>(bits))
          : std::to_chars(text.data(), text.data() + text.size(),
                          std::bit_cast<std::int32_t>(bits));
  return std::string(text.data(), result.ptr);
}

std::string formatFieldValue(std::uint32_t bits, const RecordField& field) {
  const std::string_view label = labelName(field, fieldNumber(bits, field.kind));
  return label.empty() ? formatFieldValue(bits, field.kind) : std::string(label);
}

}  // namespace vorlund
