// The tools' view of the record's field table: differences between two records and the
// values as the text form writes them (a choice by its label).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/field_table.h"

namespace vorlund {

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

// As above, but a value of a choice that has a label is written as the label ("peaking").
std::string formatFieldValue(std::uint32_t bits, const RecordField& field);

}  // namespace vorlund
